class Point:
    def __init__(self):
        self.x = 0
        self.y = 0
    def move(self, dx, dy):
        self.x += dx
        self.y += dy
def main():
    pts = [Point() for _ in range(4)]
    s = 0
    for i in range(4000000):
        k = i & 3
        pts[k].move(1, 2)
        s += pts[k].x - pts[k].y
    print(s)
main()
