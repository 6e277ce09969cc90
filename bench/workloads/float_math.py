import math
def float_math():
    total = 0.0
    for i in range(500000):
        x = i * 0.5
        total += math.sqrt(x * x + 1.0) / (x + 1.0)
    print(total)
float_math()
