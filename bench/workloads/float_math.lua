local function floatMath()
  local sum = 0.0
  for i = 0, 499999 do
    local x = i * 0.5
    sum = sum + math.sqrt(x * x + 1.0) / (x + 1.0)
  end
  print(sum)
end
floatMath()
