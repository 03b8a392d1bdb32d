local acc = 0
for pc = 0, 5999999 do
  local op = pc % 5
  if op == 0 then acc = acc + 3
  elseif op == 1 then acc = acc - 1
  elseif op == 2 then acc = acc ~ 5
  elseif op == 3 then acc = acc & 65535
  else acc = acc + 1 end
end
print(acc)
