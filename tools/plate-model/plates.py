"""Draws mainland-China licence plates as the service's plate finder hands them to the reader:
cut out of a picture, rectified to a fixed plate-shaped size, grey, with the flaws of a real
photograph and of an imperfect cut."""

import io
import math

import cv2
import numpy as np
from PIL import Image, ImageDraw, ImageFont

PROVINCES = "京津沪渝冀豫云辽黑湘皖鲁新苏浙赣鄂桂甘晋蒙陕吉闽贵粤青藏川宁琼"
LETTERS = "ABCDEFGHJKLMNPQRSTUVWXYZ"
DIGITS = "0123456789"
# Class 0 is the CTC blank; the order is the service's too (service/plate_model.cpp).
ALPHABET = PROVINCES + LETTERS + DIGITS

# The reader's input: one grey line, fixed size (OpenCV's DNN import needs fixed shapes).
INPUT_HEIGHT = 32
INPUT_WIDTH = 128

# Typefaces the training draws with: (file, face index in a collection). The benchmark's
# held-out typefaces (WenQuanYi Micro Hei, Droid Sans Fallback, the URW Nimbus family) are
# never listed here.
CJK_FONTS = [
    ("/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", 2),  # SC
    ("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", 2),
    ("/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc", 2),
    ("/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc", 2),
    ("/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc", 0),
    ("/usr/share/fonts/truetype/arphic/uming.ttc", 0),
    ("/usr/share/fonts/truetype/arphic/ukai.ttc", 0),
]
LATIN_FONTS = [
    ("/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", 2),
    ("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", 2),
    ("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 0),
    ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0),
    ("/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf", 0),
    ("/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf", 0),
    ("/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf", 0),
    ("/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf", 0),
    ("/usr/share/fonts/truetype/liberation2/LiberationMono-Bold.ttf", 0),
    ("/usr/share/fonts/truetype/freefont/FreeSansBold.ttf", 0),
    ("/usr/share/fonts/truetype/freefont/FreeSans.ttf", 0),
    ("/usr/share/fonts/truetype/freefont/FreeMonoBold.ttf", 0),
    ("/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc", 0),
]

# Plate geometry in millimetres: blue 440 x 140, characters 45 x 90; green 480 x 140,
# characters 43 x 90; the second gap holds a dot.
BLUE = dict(width=440, char_width=45, margin=15.5, spacing=12, dot_gap=34)
GREEN = dict(width=480, char_width=43, margin=15.5, spacing=9, dot_gap=51)
PLATE_HEIGHT, CHAR_HEIGHT, CHAR_TOP = 140, 90, 25

_glyph_cache = {}
_font_cache = {}


def font(face, size=160):
    key = (face, size)
    if key not in _font_cache:
        _font_cache[key] = ImageFont.truetype(face[0], size, index=face[1])
    return _font_cache[key]


def glyph(face, ch):
    """The character's ink, tightly cut, 0..255 (255 ink), drawn large once."""
    key = (face, ch)
    if key not in _glyph_cache:
        f = font(face)
        img = Image.new("L", (260, 260), 0)
        ImageDraw.Draw(img).text((30, 20), ch, font=f, fill=255)
        a = np.asarray(img)
        ys, xs = np.nonzero(a > 40)
        _glyph_cache[key] = a[ys.min():ys.max() + 1, xs.min():xs.max() + 1].copy()
    return _glyph_cache[key]


def random_number(rng, green):
    number = PROVINCES[rng.integers(31)] + LETTERS[rng.integers(24)]
    if green:
        if rng.random() < 0.7:  # small vehicles: D or F, a letter or digit, four digits
            number += "DF"[rng.integers(2)]
            number += (LETTERS + DIGITS)[rng.integers(34)] if rng.random() < 0.5 else DIGITS[rng.integers(10)]
            number += "".join(DIGITS[rng.integers(10)] for _ in range(4))
        else:  # large vehicles: five digits, then D or F
            number += "".join(DIGITS[rng.integers(10)] for _ in range(5)) + "DF"[rng.integers(2)]
        return number
    for _ in range(5):
        number += LETTERS[rng.integers(24)] if rng.random() < 0.35 else DIGITS[rng.integers(10)]
    return number


def plate_face(rng, number, green, cjk, latin, scale):
    """The plate, scale pixels a millimetre, as a BGR picture."""
    L = GREEN if green else BLUE
    w, h = int(L["width"] * scale), int(PLATE_HEIGHT * scale)
    if green:
        top = np.array([236, 250, 236], np.float32) + rng.uniform(-20, 15, 3)
        bottom = np.array([90, 175, 40], np.float32) + rng.uniform(-30, 30, 3)
        t = np.linspace(0, 1, h if rng.random() < 0.8 else w, dtype=np.float32) ** rng.uniform(0.6, 1.6)
        ramp = top[None, :] * (1 - t[:, None]) + bottom[None, :] * t[:, None]
        face = (np.repeat(ramp[:, None, :], w, 1) if len(t) == h else np.repeat(ramp[None, :, :], h, 0))
        ink = np.array([20, 20, 20], np.float32) + rng.uniform(-15, 30)
    else:
        base = np.array([160, 62, 12], np.float32) + rng.uniform(-35, 35, 3)
        face = np.tile(np.clip(base, 0, 255), (h, w, 1))
        ink = np.array([240, 240, 240], np.float32) - rng.uniform(0, 50)
    face = face.astype(np.float32).copy()
    if not green or rng.random() < 0.5:  # the white (or dark) rim
        rim = 5 * scale
        col = tuple(float(v) for v in ink)
        cv2.rectangle(face, (int(rim), int(rim)), (int(w - rim), int(h - rim)), col,
                      max(1, int(round(rng.uniform(1.5, 3.5) * scale))), cv2.LINE_AA)
    # Characters: real proportions, or narrower / wider, or a little taller / shorter.
    width_factor = rng.uniform(0.75, 1.2)
    height_factor = rng.uniform(0.85, 1.05)
    stroke_jitter = rng.random() < 0.3
    chars = list(number)
    n = len(chars)
    boxes = []
    x = L["margin"]
    for i in range(n):
        boxes.append(x)
        x += L["char_width"]
        x += L["dot_gap"] if i == 1 else L["spacing"]
    used = boxes[-1] + L["char_width"] - boxes[0]
    # Narrower or wider characters keep their centres.
    ch_h = CHAR_HEIGHT * height_factor
    ch_top = CHAR_TOP + (CHAR_HEIGHT - ch_h) / 2 + rng.uniform(-4, 4)
    mask = np.zeros((h, w), np.float32)
    for i, ch in enumerate(chars):
        g = glyph(cjk if i == 0 else latin, ch)
        gh, gw = g.shape
        box_w = L["char_width"] * width_factor
        sy = ch_h / gh
        sx = min(sy * rng.uniform(0.9, 1.15), box_w / gw)
        if i == 0 or ch not in "1":
            sx = max(sx, min(sy * 0.5, box_w / gw))
        tw, th = max(1, int(round(gw * sx * scale))), max(1, int(round(gh * sy * scale)))
        cx = (boxes[i] + L["char_width"] / 2) * scale
        gx = int(round(cx - tw / 2))
        gy = int(round(ch_top * scale))
        r = cv2.resize(g, (tw, th), interpolation=cv2.INTER_AREA).astype(np.float32) / 255
        if stroke_jitter:
            k = max(1, int(scale * 2))
            r = cv2.dilate(r, np.ones((k, k))) if rng.random() < 0.5 else cv2.erode(r, np.ones((k, k)))
        x0, y0 = max(gx, 0), max(gy, 0)
        x1, y1 = min(gx + tw, w), min(gy + th, h)
        if x1 > x0 and y1 > y0:
            mask[y0:y1, x0:x1] = np.maximum(mask[y0:y1, x0:x1], r[y0 - gy:y1 - gy, x0 - gx:x1 - gx])
    dot_x = (boxes[1] + L["char_width"] + L["dot_gap"] / 2) * scale
    cv2.circle(mask, (int(dot_x), int(h / 2)), max(1, int(5 * scale)), 1.0, -1, cv2.LINE_AA)
    face = face * (1 - mask[..., None]) + ink[None, None, :] * mask[..., None]
    # Bolts and dirt.
    if rng.random() < 0.6:
        for bx in (0.25, 0.75):
            c = float(rng.uniform(90, 200))
            cv2.circle(face, (int(w * bx + rng.uniform(-8, 8) * scale), int(12 * scale)),
                       max(1, int(rng.uniform(3, 6) * scale)), (c, c, c), -1, cv2.LINE_AA)
    for _ in range(rng.integers(0, 6)):
        c = rng.uniform(40, 140, 3)
        alpha = rng.uniform(0.1, 0.45)
        blob = np.zeros((h, w), np.float32)
        cv2.ellipse(blob, (int(rng.uniform(0, w)), int(rng.uniform(0, h))),
                    (int(rng.uniform(3, 40) * scale), int(rng.uniform(2, 15) * scale)),
                    float(rng.uniform(0, 180)), 0, 360, 1.0, -1)
        blob = cv2.GaussianBlur(blob, (0, 0), max(0.5, 3 * scale)) * alpha
        face = face * (1 - blob[..., None]) + c[None, None, :] * blob[..., None]
    return np.clip(face, 0, 255).astype(np.uint8)


def scene(rng, w, h):
    """A car-coloured, textured backdrop."""
    base = rng.uniform(0, 255, 3)
    if rng.random() < 0.25:  # a blue or green car
        base = np.array([rng.uniform(120, 220), rng.uniform(40, 120), rng.uniform(0, 60)])
        if rng.random() < 0.5:
            base = base[[2, 0, 1]]
    img = np.tile(base.astype(np.float32), (h, w, 1))
    for _ in range(rng.integers(2, 10)):
        c = rng.uniform(0, 255, 3)
        p1 = (int(rng.uniform(0, w)), int(rng.uniform(0, h)))
        p2 = (int(rng.uniform(0, w)), int(rng.uniform(0, h)))
        cv2.rectangle(img, p1, p2, tuple(float(v) for v in c), -1 if rng.random() < 0.6 else 3)
    img += rng.normal(0, rng.uniform(2, 15), (h, w, 1)).astype(np.float32)
    return np.clip(img, 0, 255)


def draw_sample(rng, fonts=None):
    """One training pair: the reader's grey input (INPUT_HEIGHT x INPUT_WIDTH) and its text."""
    green = rng.random() < 0.5
    number = random_number(rng, green)
    cjk_fonts, latin_fonts = fonts or (CJK_FONTS, LATIN_FONTS)
    cjk = cjk_fonts[rng.integers(len(cjk_fonts))]
    latin = latin_fonts[rng.integers(len(latin_fonts))]
    # The plate's width in the photograph: from a small far plate to a close-up.
    plate_px = rng.uniform(64, 260) if rng.random() < 0.85 else rng.uniform(260, 360)
    L = GREEN if green else BLUE
    scale = plate_px / L["width"]
    face = plate_face(rng, number, green, cjk, latin, max(scale, 0.45))
    if scale < 0.45:
        face = cv2.resize(face, (int(L["width"] * scale), int(PLATE_HEIGHT * scale)), interpolation=cv2.INTER_AREA)
    fh, fw = face.shape[:2]
    # On a scene, with a frame around it to cut from.
    pad_x, pad_y = int(fw * 0.15) + 4, int(fh * 0.45) + 4
    canvas = scene(rng, fw + 2 * pad_x, fh + 2 * pad_y)
    corners = np.float32([[0, 0], [fw, 0], [fw, fh], [0, fh]])
    # Turned about the vertical axis (one side nearer), then rotated in the picture plane.
    turn = rng.uniform(-0.3, 0.3)
    dst = corners.copy()
    dst[[1, 2], 1] = [fh * (0 - turn * 0.15), fh * (1 + turn * 0.15)] if turn > 0 else dst[[1, 2], 1]
    dst[[0, 3], 1] = [fh * (turn * 0.15), fh * (1 - turn * 0.15)] if turn < 0 else dst[[0, 3], 1]
    dst[:, 0] = dst[:, 0] * (1 - abs(turn) * 0.3) + fw * abs(turn) * 0.15
    angle = math.radians(rng.uniform(-10, 10))
    centre = np.float32([fw / 2, fh / 2])
    rot = np.float32([[math.cos(angle), -math.sin(angle)], [math.sin(angle), math.cos(angle)]])
    dst = (dst - centre) @ rot.T + centre + np.float32([pad_x, pad_y])
    H = cv2.getPerspectiveTransform(corners, dst)
    warped = cv2.warpPerspective(face, H, (canvas.shape[1], canvas.shape[0]), flags=cv2.INTER_LINEAR)
    m = cv2.warpPerspective(np.ones((fh, fw), np.float32), H, (canvas.shape[1], canvas.shape[0]))
    img = canvas * (1 - m[..., None]) + warped.astype(np.float32) * m[..., None]
    # Light: overall 0.6x to 1.3x, with a gradient or shadow across.
    gain = rng.uniform(0.55, 1.35)
    gy, gx = np.mgrid[0:img.shape[0], 0:img.shape[1]].astype(np.float32)
    ramp = 1 + rng.uniform(-0.35, 0.35) * (gx / img.shape[1] - 0.5) + rng.uniform(-0.25, 0.25) * (gy / img.shape[0] - 0.5)
    img = img * gain * ramp[..., None]
    if rng.random() < 0.2:  # a hard shadow edge
        edge = rng.uniform(0, img.shape[1])
        img[:, : int(edge)] *= rng.uniform(0.5, 0.85)
    sigma = rng.uniform(0, 1.2) if rng.random() < 0.85 else rng.uniform(1.2, 2.0)
    if sigma > 0.3:
        img = cv2.GaussianBlur(img, (0, 0), sigma * max(1.0, plate_px / 250))
    img += rng.normal(0, rng.uniform(0, 10), img.shape).astype(np.float32)
    img = np.clip(img, 0, 255).astype(np.uint8)
    ok, jpeg = cv2.imencode(".jpg", img, [cv2.IMWRITE_JPEG_QUALITY, int(rng.uniform(30, 95))])
    img = cv2.imdecode(jpeg, cv2.IMREAD_COLOR)
    # The finder's cut: the plate's corners, each off by a little, warped to the input size.
    jx, jy = fw * 0.035, fh * 0.12
    found = dst + np.float32(rng.uniform([-jx, -jy], [jx, jy], (4, 2)))
    if rng.random() < 0.3:  # cut a little wide or narrow all round
        grow = rng.uniform(-0.03, 0.08)
        found = (found - found.mean(0)) * np.float32([1 + grow, 1 + grow * 2]) + found.mean(0)
    out = np.float32([[0, 0], [INPUT_WIDTH * 4, 0], [INPUT_WIDTH * 4, INPUT_HEIGHT * 4], [0, INPUT_HEIGHT * 4]])
    M = cv2.getPerspectiveTransform(np.float32(found), out)
    big = cv2.warpPerspective(img, M, (INPUT_WIDTH * 4, INPUT_HEIGHT * 4), flags=cv2.INTER_LINEAR,
                              borderMode=cv2.BORDER_REPLICATE)
    grey = cv2.cvtColor(big, cv2.COLOR_BGR2GRAY)
    grey = cv2.resize(grey, (INPUT_WIDTH, INPUT_HEIGHT), interpolation=cv2.INTER_AREA)
    return grey, number
