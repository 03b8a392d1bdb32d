local acc = 0
for pc = 0, 11999999 do
  local op = pc % 8
  if op == 0 then acc = acc + 3
  elseif op == 1 then acc = acc - 1
  elseif op == 2 then acc = acc ~ 5
  elseif op == 3 then acc = acc & 65535
  elseif op == 4 then acc = acc + op
  elseif op == 5 then acc = acc | 2
  elseif op == 6 then acc = acc - 2
  else acc = acc + 1 end
end
print(acc)
