def histogram():
    a = []
    for i in range(1000000):
        a.append(i % 256)
    h = [0] * 256
    for v in a:
        h[v] += 1
    print(h[0], h[255])
histogram()
