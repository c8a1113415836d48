# The same loop as loop.prc.
n, s, c, t = 0, 0, 0, ""
while n < 1000000:
    n = n + 1
    s = s + n * 2 - 1
    t = "x" + str(n)
    if s > 100:
        c = c + 1
print(c)
