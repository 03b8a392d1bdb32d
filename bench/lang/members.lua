local Point = {}
Point.__index = Point
function Point.new() return setmetatable({x = 0, y = 0}, Point) end
function Point:move(dx, dy) self.x = self.x + dx; self.y = self.y + dy end
local pts = {}
for k = 0, 3 do pts[k] = Point.new() end
local s = 0
for i = 0, 3999999 do
  local k = i & 3
  pts[k]:move(1, 2)
  s = s + pts[k].x - pts[k].y
end
print(s)
