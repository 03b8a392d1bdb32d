def main():
    N = 100000
    flags = [0] * N
    count = 0
    for r in range(60):
        for i in range(N):
            flags[i] = 1
        count = 0
        i = 2
        while i < N:
            if flags[i]:
                count += 1
                k = i + i
                while k < N:
                    flags[k] = 0
                    k += i
            i += 1
    print(count)
main()
