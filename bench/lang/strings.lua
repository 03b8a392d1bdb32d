local n = 0
local s
for i = 0, 1999999 do
  s = "item" .. "-" .. "x"
  if s == "item-x" then n = n + 1 end
  if i % 1000 == 0 then s = "" end
end
print(n)
