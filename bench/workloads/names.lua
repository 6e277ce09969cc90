local function names()
  local found = 0
  for i = 0, 99999 do
    local name = "shot_" .. i .. "_v" .. (i % 10) .. ".png"
    local parts = {}
    for part in string.gmatch(name, "[^_]+") do parts[#parts + 1] = part end
    local last = parts[3]
    if string.sub(last, -5) == "3.png" then found = found + 1 end
  end
  print(found)
end
names()
