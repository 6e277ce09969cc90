local function loop()
  local t = 0
  for i = 0, 999999 do
    t = t + i % 7
    if t > 1000 then t = t - 1000 end
  end
  print(t)
end
loop()
