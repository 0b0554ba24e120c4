# Independent Python model of the texture encoders, used to derive the golden
# bytes and hashes in dxt_test.cpp. Single precision is emulated by rounding
# every float result to float32 (exact for + - * / of float operands, since
# double carries more than twice the bits).
# Run: python3 tests/codec/texture_reference.py
import math
import struct

def f32(x): return struct.unpack('<f', struct.pack('<f', x))[0]

E5 = [(i << 3) | (i >> 2) for i in range(32)]
E6 = [(i << 2) | (i >> 4) for i in range(64)]

def omatch(E, size):
    t = []
    for v in range(256):
        best = 256; pair = None
        for lo in range(size):
            for hi in range(size):
                eh, el = E[hi], E[lo]
                err = abs((2*eh + el)//3 - v) + (abs(eh - el)*3)//100
                if err < best:
                    best = err; pair = (hi, lo)
        t.append(pair)
    return t
OM5 = omatch(E5, 32); OM6 = omatch(E6, 64)

def mul8(a, m):
    t = a*m + 128
    return (t + (t >> 8)) >> 8
def as565(r, g, b): return (mul8(r, 31) << 11) + (mul8(g, 63) << 5) + mul8(b, 31)

def px(block, i): return block[4*i], block[4*i+1], block[4*i+2]

def tdiv(a, b):  # truncating integer division
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q

def palette(c0, c1):
    col0 = (E5[c0 >> 11], E6[(c0 >> 5) & 63], E5[c0 & 31])
    col1 = (E5[c1 >> 11], E6[(c1 >> 5) & 63], E5[c1 & 31])
    col2 = tuple((2*a + b)//3 for a, b in zip(col0, col1))
    col3 = tuple((a + 2*b)//3 for a, b in zip(col0, col1))
    return [col0, col1, col2, col3]

def match_colors(block, pal):
    d = [pal[0][k] - pal[1][k] for k in range(3)]
    stops = [sum(c[k]*d[k] for k in range(3)) for c in pal]
    c0p = (stops[1] + stops[3]) >> 1
    half = (stops[3] + stops[2]) >> 1
    c3p = (stops[2] + stops[0]) >> 1
    mask = 0
    for i in range(16):
        p = px(block, i)
        dot = p[0]*d[0] + p[1]*d[1] + p[2]*d[2]
        if dot < half: idx = 1 if dot < c0p else 3
        else: idx = 2 if dot < c3p else 0
        mask |= idx << (2*i)
    return mask

def optimize(block):
    P = [px(block, i) for i in range(16)]
    mu = [(sum(p[k] for p in P) + 8) >> 4 for k in range(3)]
    mn = [min(p[k] for p in P) for k in range(3)]
    mx = [max(p[k] for p in P) for k in range(3)]
    cov = [0]*6
    for p in P:
        r, g, b = p[0]-mu[0], p[1]-mu[1], p[2]-mu[2]
        cov[0] += r*r; cov[1] += r*g; cov[2] += r*b
        cov[3] += g*g; cov[4] += g*b; cov[5] += b*b
    c = [f32(f32(float(x)) / f32(255.0)) for x in cov]
    vr, vg, vb = f32(mx[0]-mn[0]), f32(mx[1]-mn[1]), f32(mx[2]-mn[2])
    for _ in range(4):
        r = f32(f32(f32(vr*c[0]) + f32(vg*c[1])) + f32(vb*c[2]))
        g = f32(f32(f32(vr*c[1]) + f32(vg*c[3])) + f32(vb*c[4]))
        b = f32(f32(f32(vr*c[2]) + f32(vg*c[4])) + f32(vb*c[5]))
        vr, vg, vb = r, g, b
    magn = max(abs(vr), abs(vg), abs(vb))
    if magn < 4.0:
        ax = (299, 587, 114)
    else:
        s = 512.0 / magn
        ax = (math.trunc(vr*s), math.trunc(vg*s), math.trunc(vb*s))
    dots = [p[0]*ax[0] + p[1]*ax[1] + p[2]*ax[2] for p in P]
    mi = ma = 0
    for i in range(1, 16):
        if dots[i] < dots[mi]: mi = i
        elif dots[i] > dots[ma]: ma = i
    return as565(*P[ma]), as565(*P[mi])

def clampn(f, n):
    v = math.trunc(f)
    return max(0, min(n, v))

def refine(block, mx16, mn16, mask):
    P = [px(block, i) for i in range(16)]
    if ((mask ^ (mask << 2)) & 0xFFFFFFFF) < 4:
        avg = [(8 + sum(p[k] for p in P)) >> 4 for k in range(3)]
        nmax = (OM5[avg[0]][0] << 11) | (OM6[avg[1]][0] << 5) | OM5[avg[2]][0]
        nmin = (OM5[avg[0]][1] << 11) | (OM6[avg[1]][1] << 5) | OM5[avg[2]][1]
    else:
        W1 = [3, 0, 2, 1]
        PR = [0x090000, 0x000900, 0x040102, 0x010402]
        at1 = [0]*3; at2 = [0]*3; akku = 0
        for i in range(16):
            s = (mask >> (2*i)) & 3
            for k in range(3):
                at1[k] += W1[s]*P[i][k]; at2[k] += P[i][k]
            akku += PR[s]
        at2 = [3*at2[k] - at1[k] for k in range(3)]
        xx = akku >> 16; yy = (akku >> 8) & 0xFF; xy = akku & 0xFF
        frb = f32(f32(0.36470589) / f32(xx*yy - xy*xy))
        fg = f32(f32(frb * 63.0) / 31.0)
        def q(val, f, n): return clampn(f32(f32(f32(val) * f) + 0.5), n)
        nmax = (q(at1[0]*yy - at2[0]*xy, frb, 31) << 11) | (q(at1[1]*yy - at2[1]*xy, fg, 63) << 5) | q(at1[2]*yy - at2[2]*xy, frb, 31)
        nmin = (q(at2[0]*xx - at1[0]*xy, frb, 31) << 11) | (q(at2[1]*xx - at1[1]*xy, fg, 63) << 5) | q(at2[2]*xx - at1[2]*xy, frb, 31)
    return nmax, nmin, (nmax != mx16 or nmin != mn16)

def color_block(block):
    words = [bytes(block[4*i:4*i+4]) for i in range(16)]
    if all(w == words[0] for w in words):
        r, g, b = block[0], block[1], block[2]
        mx16 = (OM5[r][0] << 11) | (OM6[g][0] << 5) | OM5[b][0]
        mn16 = (OM5[r][1] << 11) | (OM6[g][1] << 5) | OM5[b][1]
        mask = 0xAAAAAAAA
    else:
        mx16, mn16 = optimize(block)
        mask = match_colors(block, palette(mx16, mn16)) if mx16 != mn16 else 0
        for _ in range(2):
            last = mask
            mx16, mn16, changed = refine(block, mx16, mn16, mask)
            if not changed: break
            if mx16 == mn16:
                mask = 0; break
            mask = match_colors(block, palette(mx16, mn16))
            if mask == last: break
    if mx16 < mn16:
        mx16, mn16 = mn16, mx16
        mask ^= 0x55555555
    return struct.pack('<HHI', mx16, mn16, mask)

def ramp_indices(values, d, bias):
    tab = [1, 7, 6, 5, 4, 3, 2, 0]
    bits = 0
    for k, v in enumerate(values):
        a = 7*v + bias; t = 0
        if a >= 4*d: t = 4; a -= 4*d
        if a >= 2*d: t += 2; a -= 2*d
        if a >= d: t += 1
        bits |= tab[t] << (3*k)
    return bits.to_bytes(6, 'little')

def alpha_values(values):
    mn = mx = values[0]
    for a in values[1:]:
        if a < mn: mn = a
        elif a > mx: mx = a
    if mn == mx: return bytes([mx, mn]) + bytes(6)
    d = mx - mn
    bias = (d - 1 if d < 8 else d//2 + 2) - 7*mn
    return bytes([mx, mn]) + ramp_indices(values, d, bias)

def alpha_block(block): return alpha_values([block[4*i+3] for i in range(16)])

def luma_block(v):
    mn, mx = min(v), max(v)
    e0 = ((mx + 15) & 0xFFF0) >> 4; e1 = (mn & 0xFFF0) >> 4
    if e0 == e1: return bytes([e0, e1]) + bytes(6)
    H, L = 16*e0, 16*e1; D = H - L
    return bytes([e0, e1]) + ramp_indices(v, D, D//2 + 2 - 7*L)

def chroma_block(v):
    mn, mx = min(v), max(v)
    e0 = (mx + 1) >> 1; e1 = mn >> 1
    if e0 == e1: return bytes([e0, e1]) + bytes(6)
    H, L = 2*e0, 2*e1; D = H - L
    return bytes([e0, e1]) + ramp_indices(v, D, D//2 + 2 - 7*L)

def ycocg(picture, w, h, alpha):
    # picture: bytes RGBA
    unit = 16 if alpha else 8
    out = bytearray(w*h*5//4 if alpha else w*h*3//4)
    plane2 = w*h if alpha else w*h//2
    def P(x, y): o = (y*w + x)*4; return picture[o:o+4]
    for ty in range(h//8):
        for tx in range(w//8):
            for blk in range(4):
                bx, by = 2*tx + (blk & 1), 2*ty + (blk >> 1)
                ys = []; As = []
                for j in range(4):
                    for i in range(4):
                        r, g, b, a = P(4*bx + i, 4*by + j)
                        ys.append((r + 2*g + b)*4); As.append(a)
                o = (by*(w//4) + bx)*unit
                out[o:o+8] = luma_block(ys)
                if alpha: out[o+8:o+16] = alpha_values(As)
            co = []; cg = []
            for gy in range(4):
                for gx in range(4):
                    sr = sg = sb = 0
                    for dy in range(2):
                        for dx in range(2):
                            r, g, b, a = P(8*tx + 2*gx + dx, 8*ty + 2*gy + dy)
                            sr += r; sg += g; sb += b
                    co.append(tdiv(sr - sb, 4) + 255)
                    cg.append(tdiv(2*sg - sr - sb, 8) + 255)
            o = plane2 + (ty*(w//8) + tx)*16
            out[o:o+8] = chroma_block(co); out[o+8:o+16] = chroma_block(cg)
    return bytes(out)

M = 0xFFFFFFFF
class Rng:
    def __init__(self, s): self.s = s
    def next(self):
        s = self.s
        s ^= (s << 13) & M; s ^= s >> 17; s ^= (s << 5) & M
        self.s = s; return s
def clamp(v): return max(0, min(255, v))
def corpus(n, seed=0x9E3779B9):
    r = Rng(seed); out = []
    for k in range(n):
        kind = k % 4; b = []
        if kind == 0:
            b = [r.next() & 255 for _ in range(64)]
        elif kind == 1:
            base = [r.next() & 255 for _ in range(4)]
            dx = [int(r.next() % 61) - 30 for _ in range(4)]
            dy = [int(r.next() % 61) - 30 for _ in range(4)]
            for j in range(4):
                for i in range(4):
                    for c in range(4):
                        b.append(clamp(base[c] + dx[c]*i + dy[c]*j + int(r.next() % 7) - 3))
        elif kind == 2:
            c1 = [r.next() & 255 for _ in range(4)]; c2 = [r.next() & 255 for _ in range(4)]
            for i in range(16): b += c2 if (r.next() >> 7) & 1 else c1
        else:
            c = [r.next() & 255 for _ in range(4)]
            for i in range(16):
                for ch in range(4): b.append(clamp(c[ch] + int(r.next() % 5) - 2))
        out.append(bytes(b))
    return out
def fnv(data, h=0xcbf29ce484222325):
    for x in data:
        h ^= x; h = (h * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return h

def picture(w, h, seed):
    r = Rng(seed); c = clamp; out = bytearray()
    for y in range(h):
        for x in range(w):
            R = c(x*4 + int(r.next() % 9) - 4)
            G = c(y*5 + int(r.next() % 9) - 4)
            B = c(255 - 2*x - 2*y + int(r.next() % 9) - 4)
            if x > y + 10: B = 255 - B
            A = c(128 + (x - y)*3 + int(r.next() % 5) - 2)
            out += bytes([R, G, B, A])
    return bytes(out)

if __name__ == '__main__':
    blocks = corpus(20000)
    print('colour hash %016x' % fnv(b''.join(color_block(b) for b in blocks)))
    print('alpha hash  %016x' % fnv(b''.join(alpha_block(b) for b in blocks)))
    for i in [564, 1676, 2529, 6332, 1]:
        print('block', i, blocks[i].hex(), color_block(blocks[i]).hex(), alpha_block(blocks[i]).hex())
    # Constant blocks, and one differing only in the alpha of pixel 0.
    for b in [bytes([255]*64), bytes(64), bytes([255, 255, 255, 0] + [255]*60), bytes([1, 2, 3, 128]*16)]:
        print('block', b.hex(), color_block(b).hex(), alpha_block(b).hex())
    # Flat single-channel blocks: equal endpoints, or endpoints rounded outward.
    print('flat', luma_block([2048]*16).hex(), luma_block([2040]*16).hex(), chroma_block([301]*16).hex())
    p = picture(64, 48, 12345)
    print('picture %016x ycg6 %016x yg10 %016x' % (fnv(p), fnv(ycocg(p, 64, 48, False)), fnv(ycocg(p, 64, 48, True))))
