def names():
    found = 0
    for i in range(100000):
        name = "shot_" + str(i) + "_v" + str(i % 10) + ".png"
        parts = name.split("_")
        if parts[2].endswith("3.png"):
            found += 1
    print(found)
names()
