def main():
    s = ""
    t = ""
    n = 0
    for i in range(3000000):
        s = s + "ab"
        t += "ab"
        if s == t:
            n += 1
        u = "item" + "-" + "x"
        if u == "item-x":
            n += 1
        if i % 500 == 499:
            s = ""
            t = ""
    print(n)
main()
