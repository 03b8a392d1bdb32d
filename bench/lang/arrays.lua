local function scale(a, n, k) for i = 0, n - 1 do a[i] = (a[i] * k + i) & 1023 end end
local function total(a, n) local s = 0 for i = 0, n - 1 do s = s + a[i] end return s end
local data = {}
for i = 0, 999 do data[i] = i end
local s = 0
for r = 1, 20000 do
  scale(data, 1000, 3)
  s = (s + total(data, 1000)) & 16777215
end
print(s)
