def main():
    n = 0
    for i in range(2000000):
        s = "item" + "-" + "x"
        if s == "item-x":
            n += 1
        if i % 1000 == 0:
            s = ""
    print(n)
main()
