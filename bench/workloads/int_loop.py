def loop():
    t = 0
    for i in range(1000000):
        t = t + i % 7
        if t > 1000:
            t = t - 1000
    print(t)
loop()
