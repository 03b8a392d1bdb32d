def main():
    acc = 0
    for pc in range(12000000):
        op = pc % 8
        match op:
            case 0:
                acc += 3
            case 1:
                acc -= 1
            case 2:
                acc ^= 5
            case 3:
                acc = acc & 65535
            case 4:
                acc += op
            case 5:
                acc = acc | 2
            case 6:
                acc -= 2
            case _:
                acc += 1
    print(acc)
main()
