def mix3(a, b, c):
    return a + b - c
def mix4(a, b, c, d):
    return a * b + c - d
def main():
    s = 0
    for i in range(8000000):
        s = (s + mix3(i, 3, 1) + mix4(i & 15, 2, s & 7, 5)) & 16777215
    print(s)
main()
