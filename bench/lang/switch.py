def main():
    acc = 0
    for pc in range(6000000):
        op = pc % 5
        match op:
            case 0:
                acc += 3
            case 1:
                acc -= 1
            case 2:
                acc ^= 5
            case 3:
                acc = acc & 65535
            case _:
                acc += 1
    print(acc)
main()
