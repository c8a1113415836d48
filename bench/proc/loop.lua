-- The same loop as loop.prc.
local n, s, c, t = 0, 0, 0, ""
while n < 1000000 do
  n = n + 1
  s = s + n * 2 - 1
  t = "x" .. tostring(n)
  if s > 100 then
    c = c + 1
  end
end
print(c)
