local N = 100000
local flags = {}
local count
for r = 1, 60 do
  for i = 0, N - 1 do flags[i] = 1 end
  count = 0
  for i = 2, N - 1 do
    if flags[i] == 1 then
      count = count + 1
      for k = i + i, N - 1, i do flags[k] = 0 end
    end
  end
end
print(count)
