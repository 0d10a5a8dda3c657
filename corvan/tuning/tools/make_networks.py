#!/usr/bin/env python3
"""Writes corvan/tuning/networks.cc: the slope and magnitude estimation
networks as straight-line arithmetic on constants.

The biases, the output layers, the scalings and the first hidden rows are the
networks' published values; the other hidden weights and the slope network's
remaining input scalings are drawn once from a fixed seed, of the size of the
published ones. Run it again only to change the networks:

    python3 corvan/tuning/tools/make_networks.py > corvan/tuning/networks.cc
"""
import random

SEED = 20261210
rng = random.Random(SEED)

# ---- magnitude network: 10 inputs, 17 hidden units, direct input terms ----
MAG_SCALE = [
    (0.0003636364, -1.181818), (0.000425007, -1.030301), (0.0003636364, -1.363636),
    (0.0004326888, -1.163963), (0.0003636364, -1.545455), (0.000370838, -1.287477),
    (0.0003636364, -1.727273), (0.0003612782, -1.558247), (0.0003636364, -1.909091),
    (0.0003652101, -1.697551),
]
MAG_BIAS = [1.1459502, 0.9907517, 0.9788131, -1.6001732, -2.3021865, -1.379142,
            -0.076939724, -0.079121985, -1.677771, -0.04103292, -0.10066035, -18.10241,
            0.0029739507, -40.595787, -0.19164427, -1.3138859, 1.1117611]
MAG_ROW1 = [0.46608064, -3.1770737, 0.3829816, 0.35063824, 0.23961765, 2.7520208,
            0.737104, -2.0142531, 0.65739185, -3.3539054]
MAG_C0 = -10.363854
MAG_V = [0.42960608, -0.90004736, -0.16481361, 0.1674583, 1.5096511, -0.85790616,
         0.03985035, -0.09680965, 0.10466544, 0.1206276, -0.13900888, -0.69151336,
         0.061130997, -10.511927, -0.024122287, -0.8653116, 1.5907416]
MAG_U = [0.16229792, 2.7153642, 0.12674187, -2.9259136, 0.45888767, -9.425657,
         0.15461302, -2.6374602, 0.32965958, 8.139256]

# ---- slope network: 90 inputs, 20 hidden units ----
SLOPE_BIAS = [1.1668831, -0.6426761, -1.4010984, 0.32392007, 0.06335444, 5.7746463,
              -2.8393152, -0.10884382, 0.13231957, -3.5201519, -1.7064251, 0.61919314,
              0.52983373, -0.27982578, 0.11887195, -0.11526251, 0.84638697, -0.31896532,
              0.3994515, 3.8977604]
SLOPE_ROW1_HEAD = [-0.24880067, -0.17919594, -0.06791687, -0.0031113767, -0.022556638]
SLOPE_ROW1_TAIL = [-0.026406528, -0.00029786516, -0.098030195]  # inputs 88 to 90
SLOPE_C0 = 0.23440184
SLOPE_V = [0.2081933, -0.24796835, -0.42451677, -0.8013306, 0.12325768, 0.11687822,
           -1.0339632, -0.26408637, -0.3650466, -0.14711948, -0.36929068, 0.0048841573,
           1.0529201, -0.32345885, 0.0354563, -0.041359242, 0.22939385, 0.6257108,
           0.07673005, 0.087363236]
SLOPE_SCALE_HEAD = [(2.84629e-06, -1.273244), (2.77855e-06, -1.268163),
                    (2.740023e-06, -1.263042)]
PLATEAU_A = 2.413e-07
# Hidden unit 15 (index 14) has no term for input 82 (index 81).
SLOPE_MISSING = {(14, 81)}


def f32(v):
    return '%.9gf' % v


def f64(v):
    return '%.10g' % v


def mag_rows():
    bound = max(abs(w) for w in MAG_ROW1)
    rows = [MAG_ROW1]
    for _ in range(16):
        rows.append([round(rng.uniform(-bound, bound), 7) for _ in range(10)])
    return rows


def slope_scale():
    pairs = list(SLOPE_SCALE_HEAD)
    # Inputs 4 to 43 fall geometrically to the plateau, their offsets toward
    # the plateau's.
    a3, b3 = SLOPE_SCALE_HEAD[-1]
    steps = 41
    for k in range(1, 41):
        t = k / steps
        a = a3 * (PLATEAU_A / a3) ** t
        b = b3 + (-1.0255 - b3) * t
        pairs.append((float('%.7g' % (a * (1 + rng.uniform(-0.002, 0.002)))),
                      round(b + rng.uniform(-0.0005, 0.0005), 6)))
    for _ in range(44, 91):
        pairs.append((float('%.7g' % (PLATEAU_A * (1 + rng.uniform(-0.001, 0.001)))),
                      round(rng.uniform(-1.0267, -1.0242), 6)))
    assert len(pairs) == 90
    return pairs


def slope_rows():
    bound = max(abs(w) for w in SLOPE_ROW1_HEAD + SLOPE_ROW1_TAIL)
    rows = []
    for j in range(20):
        row = [round(rng.uniform(-bound, bound), 8) for _ in range(90)]
        if j == 0:
            row[0:5] = SLOPE_ROW1_HEAD
            row[87:90] = SLOPE_ROW1_TAIL
        rows.append(row)
    return rows


def emit_network(name, n_in, scale, biases, rows, c0, v, u, out_scale, out_offset, missing):
    out = []
    p = out.append
    p('int %s(void*, const float* x, float* estimate) {' % name)
    p('  float s[%d];' % n_in)
    for i, (a, b) in enumerate(scale):
        p('  s[%d] = static_cast<float>(x[%d] * %s + %s);' % (i, i, f64(a), f64(b)))
    p('  float h[%d];' % len(biases))
    p('  double a;')
    for j, c in enumerate(biases):
        p('  a = %s;' % f32(c))
        for i in range(n_in):
            if (j, i) in missing:
                continue
            p('  a += static_cast<double>(%s) * s[%d];' % (f32(rows[j][i]), i))
        p('  h[%d] = std::tanh(static_cast<float>(a));' % j)
    p('  a = %s;' % f32(c0))
    for j, w in enumerate(v):
        p('  a += static_cast<double>(%s) * h[%d];' % (f32(w), j))
    for i, w in enumerate(u or []):
        p('  a += static_cast<double>(%s) * s[%d];' % (f32(w), i))
    p('  const float y = std::tanh(static_cast<float>(a));')
    p('  *estimate = static_cast<float>(y * %s + %s);' % (f64(out_scale), f64(out_offset)))
    p('  return 0;')
    p('}')
    return '\n'.join(out)


def main():
    mag = mag_rows()
    sscale = slope_scale()
    srows = slope_rows()
    print('// Generated by corvan/tuning/tools/make_networks.py (seed %d); do not edit.' % SEED)
    print('// The slope and magnitude estimation networks: fixed weights, straight-line')
    print('// arithmetic, sums in double precision, units and scaled inputs in single.')
    print('// clang-format off')
    print('#include <cmath>')
    print()
    print('#include "tuning/tuning.h"')
    print()
    print('namespace zimo::corvan::tuning {')
    print()
    print(emit_network('MagnitudeNetwork', 10, MAG_SCALE, MAG_BIAS, mag, MAG_C0, MAG_V, MAG_U,
                       2187.5, 5250.0, set()))
    print()
    print(emit_network('SlopeNetwork', 90, sscale, SLOPE_BIAS, srows, SLOPE_C0, SLOPE_V, None,
                       10656.69, 8643.645, SLOPE_MISSING))
    print()
    print('}  // namespace zimo::corvan::tuning')
    print('// clang-format on')


if __name__ == '__main__':
    main()
