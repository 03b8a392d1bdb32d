def main():
    s = 0
    for i in range(40000):
        j = 0
        while j < 1000:
            s += (i ^ j) & 7
            j += 1
    print(s)
main()
