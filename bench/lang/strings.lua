local s, t, n = "", "", 0
for i = 0, 2999999 do
  s = s .. "ab"
  t = t .. "ab"
  if s == t then n = n + 1 end
  local u = "item" .. "-" .. "x"
  if u == "item-x" then n = n + 1 end
  if i % 500 == 499 then s = ""; t = "" end
end
print(n)
