#!/usr/bin/env python3
"""Writes the guide's two examples of noisy readings, the same bytes on
every run (Python's Mersenne Twister with fixed seeds):
- clusters.txt: 20 clusters of 3 readings of ln x, x from 0.5 to 10 in
  steps of 0.5, the readings of a cluster 0.01 to 0.2 apart, each with
  noise of 0.3% of its value;
- chamber.txt: a climate chamber's log, 34 temperature steps from -40 C to
  125 C, 5 K apart, 3 readings of a sensor at each (the same x: use
  --ties=mean), the sensor's true curve T + 0.3 + 0.8 sin(T / 25) with
  noise of standard deviation 0.06 K.
  make_noisy.py [DIRECTORY]     (default: beside this script)
"""
import math
import os
import random
import sys


def clusters():
    rng = random.Random(4)
    points = []
    for k in range(20):
        x = 0.5 * (k + 1)
        for _ in range(3):
            points.append((x, math.log(x) * (1 + 0.003 * rng.gauss(0, 1))))
            x += rng.uniform(0.01, 0.2)
    return points


def chamber_truth(t):
    return t + 0.3 + 0.8 * math.sin(t / 25.0)


def chamber():
    rng = random.Random(5)
    points = []
    for step in range(-40, 126, 5):
        for _ in range(3):
            points.append((step, chamber_truth(step) + rng.gauss(0, 0.06)))
    return points


def write(path, name, points):
    with open(path, "w") as f:
        for x, y in points:
            f.write(f"{x:.3f} {y:.4f}\n")
        f.write(f"NAME {name}\n")


def main(args):
    where = args[0] if args else os.path.dirname(os.path.abspath(__file__))
    write(os.path.join(where, "clusters.txt"), "clusters", clusters())
    write(os.path.join(where, "chamber.txt"), "chamber", chamber())


if __name__ == "__main__":
    main(sys.argv[1:])
