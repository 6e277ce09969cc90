local function histogram()
  local a = {}
  for i = 0, 999999 do a[i + 1] = i % 256 end
  local h = {}
  for i = 0, 255 do h[i] = 0 end
  for _, v in ipairs(a) do h[v] = h[v] + 1 end
  print(h[0] .. " " .. h[255])
end
histogram()
