def scale(a, n, k):
    for i in range(n):
        a[i] = (a[i] * k + i) & 1023
def total(a, n):
    s = 0
    for i in range(n):
        s += a[i]
    return s
def main():
    data = list(range(1000))
    s = 0
    for r in range(20000):
        scale(data, 1000, 3)
        s = (s + total(data, 1000)) & 16777215
    print(s)
main()
