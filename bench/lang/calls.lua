local function mix3(a, b, c) return a + b - c end
local function mix4(a, b, c, d) return a * b + c - d end
local s = 0
for i = 0, 7999999 do
  s = (s + mix3(i, 3, 1) + mix4(i & 15, 2, s & 7, 5)) & 16777215
end
print(s)
