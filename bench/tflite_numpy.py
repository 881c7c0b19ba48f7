#!/usr/bin/python3
"""A second, independent evaluation of the hand models: the TFLite FlatBuffer read by hand, each operator
the models use written plainly in numpy (float64). What the webcam's XNNPACK runtime computes is checked
against it (bench/hand_model_check.cpp runs this).

Usage: tflite_numpy.py MODEL.tflite --describe
       tflite_numpy.py MODEL.tflite INPUT.f32 OUT_DIR   (OUT_DIR/<output name>.f32, float32, row-major)
"""
import os
import struct
import sys

import numpy as np


class Table:
    """A FlatBuffers table at byte `pos` of `buf`: fields by their number in the schema."""

    def __init__(self, buf, pos):
        self.buf, self.pos = buf, pos
        self.vtable = pos - struct.unpack_from('<i', buf, pos)[0]
        self.vsize = struct.unpack_from('<H', buf, self.vtable)[0]

    def _field(self, n):
        at = 4 + 2 * n
        off = struct.unpack_from('<H', self.buf, self.vtable + at)[0] if at < self.vsize else 0
        return self.pos + off if off else None

    def scalar(self, n, fmt, default=0):
        at = self._field(n)
        return struct.unpack_from('<' + fmt, self.buf, at)[0] if at is not None else default

    def _target(self, n):
        at = self._field(n)
        return None if at is None else at + struct.unpack_from('<I', self.buf, at)[0]

    def table(self, n):
        at = self._target(n)
        return None if at is None else Table(self.buf, at)

    def vector(self, n, fmt):
        at = self._target(n)
        if at is None:
            return []
        count = struct.unpack_from('<I', self.buf, at)[0]
        return list(struct.unpack_from('<%d%s' % (count, fmt), self.buf, at + 4))

    def tables(self, n):
        at = self._target(n)
        if at is None:
            return []
        count = struct.unpack_from('<I', self.buf, at)[0]
        return [Table(self.buf, at + 4 + 4 * i + struct.unpack_from('<I', self.buf, at + 4 + 4 * i)[0])
                for i in range(count)]

    def bytes(self, n):
        at = self._target(n)
        if at is None:
            return b''
        count = struct.unpack_from('<I', self.buf, at)[0]
        return self.buf[at + 4:at + 4 + count]

    def string(self, n):
        return self.bytes(n).decode('utf-8', 'replace')


# Builtin operator codes of the schema, and the activations fused into some of them.
OPS = {0: 'ADD', 2: 'CONCATENATION', 3: 'CONV_2D', 4: 'DEPTHWISE_CONV_2D', 6: 'DEQUANTIZE', 9: 'FULLY_CONNECTED',
       14: 'LOGISTIC', 17: 'MAX_POOL_2D', 22: 'RESHAPE', 23: 'RESIZE_BILINEAR', 34: 'PAD', 40: 'MEAN', 54: 'PRELU'}
DTYPES = {0: np.float32, 1: np.float16, 2: np.int32}


def activation(x, kind):
    if kind == 0:
        return x
    if kind == 1:
        return np.maximum(x, 0)
    if kind == 3:
        return np.clip(x, 0, 6)
    raise ValueError('activation %d' % kind)


class Model:
    def __init__(self, path):
        with open(path, 'rb') as f:
            buf = f.read()
        root = Table(buf, struct.unpack_from('<I', buf, 0)[0])
        codes = [max(c.scalar(0, 'b'), c.scalar(3, 'i')) for c in root.tables(1)]
        buffers = [b.bytes(0) for b in root.tables(4)]
        graph = root.tables(2)[0]
        self.tensors = []
        for t in graph.tables(0):
            shape = t.vector(0, 'i')
            data = buffers[t.scalar(2, 'I')]
            value = np.frombuffer(data, DTYPES[t.scalar(1, 'b')]).reshape(shape) if data else None
            self.tensors.append({'name': t.string(3), 'shape': shape, 'type': t.scalar(1, 'b'), 'value': value})
        self.inputs, self.outputs = graph.vector(1, 'i'), graph.vector(2, 'i')
        self.ops = [{'op': OPS.get(codes[o.scalar(0, 'I')], 'code %d' % codes[o.scalar(0, 'I')]),
                     'in': o.vector(1, 'i'), 'out': o.vector(2, 'i'), 'opt': o.table(4)} for o in graph.tables(3)]

    def run(self, x):
        values = {i: t['value'].astype(np.float64) if t['type'] != 2 else t['value']
                  for i, t in enumerate(self.tensors) if t['value'] is not None}
        values[self.inputs[0]] = x.astype(np.float64).reshape(self.tensors[self.inputs[0]]['shape'])
        for op in self.ops:
            args = [values[i] if i >= 0 else None for i in op['in']]
            out = self.tensors[op['out'][0]]['shape']
            values[op['out'][0]] = evaluate(op['op'], args, op['opt'], out)
            if list(values[op['out'][0]].shape) != out:
                raise ValueError('%s gave %s, the file says %s' % (op['op'], values[op['out'][0]].shape, out))
        return [(self.tensors[i]['name'], values[i]) for i in self.outputs]


def same_padding(size, k, stride, dilation):
    out = -(-size // stride)
    total = max((out - 1) * stride + (k - 1) * dilation + 1 - size, 0)
    return out, total // 2, total - total // 2


def windows(x, kh, kw, stride_h, stride_w, dil_h, dil_w, same, fill):
    """x [N,H,W,C] padded as TensorFlow does; yields (ky, kx, the strided slice under that kernel tap)."""
    n, h, w, c = x.shape
    if same:
        oh, top, bottom = same_padding(h, kh, stride_h, dil_h)
        ow, left, right = same_padding(w, kw, stride_w, dil_w)
        x = np.pad(x, ((0, 0), (top, bottom), (left, right), (0, 0)), constant_values=fill)
    else:
        oh = (h - (kh - 1) * dil_h - 1) // stride_h + 1
        ow = (w - (kw - 1) * dil_w - 1) // stride_w + 1
    for ky in range(kh):
        for kx in range(kw):
            y0, x0 = ky * dil_h, kx * dil_w
            yield ky, kx, x[:, y0:y0 + stride_h * (oh - 1) + 1:stride_h, x0:x0 + stride_w * (ow - 1) + 1:stride_w, :]


def resize_bilinear(x, oh, ow, align_corners, half_pixel):
    n, h, w, c = x.shape

    def axis(out, size):
        scale = (size - 1) / (out - 1) if align_corners and out > 1 else size / out
        pos = np.arange(out, dtype=np.float64)
        src = (pos + 0.5) * scale - 0.5 if half_pixel else pos * scale
        lo = np.clip(np.floor(src).astype(int), 0, size - 1)
        hi = np.minimum(lo + 1, size - 1)
        frac = src - np.floor(src)
        lo = np.where(src < 0, 0, lo)
        frac = np.where(src < 0, 0, frac)
        return lo, hi, frac

    y0, y1, fy = axis(oh, h)
    x0, x1, fx = axis(ow, w)
    top = x[:, y0][:, :, x0] * (1 - fx)[None, None, :, None] + x[:, y0][:, :, x1] * fx[None, None, :, None]
    bottom = x[:, y1][:, :, x0] * (1 - fx)[None, None, :, None] + x[:, y1][:, :, x1] * fx[None, None, :, None]
    return top * (1 - fy)[None, :, None, None] + bottom * fy[None, :, None, None]


def evaluate(name, a, opt, out_shape):
    if name == 'DEQUANTIZE':
        return a[0].astype(np.float64)
    if name == 'CONV_2D':
        x, w, b = a
        stride_w, stride_h, act = opt.scalar(1, 'i'), opt.scalar(2, 'i'), opt.scalar(3, 'b')
        dil_w, dil_h = opt.scalar(4, 'i', 1), opt.scalar(5, 'i', 1)
        y = 0
        for ky, kx, part in windows(x, w.shape[1], w.shape[2], stride_h, stride_w, dil_h, dil_w, opt.scalar(0, 'b') == 0, 0):
            y = y + part @ w[:, ky, kx, :].T
        return activation(y + (b if b is not None else 0), act)
    if name == 'DEPTHWISE_CONV_2D':
        x, w, b = a
        stride_w, stride_h, mult, act = opt.scalar(1, 'i'), opt.scalar(2, 'i'), opt.scalar(3, 'i'), opt.scalar(4, 'b')
        dil_w, dil_h = opt.scalar(5, 'i', 1), opt.scalar(6, 'i', 1)
        x = np.repeat(x, mult, axis=3)
        y = 0
        for ky, kx, part in windows(x, w.shape[1], w.shape[2], stride_h, stride_w, dil_h, dil_w, opt.scalar(0, 'b') == 0, 0):
            y = y + part * w[0, ky, kx, :]
        return activation(y + (b if b is not None else 0), act)
    if name == 'MAX_POOL_2D':
        stride_w, stride_h = opt.scalar(1, 'i'), opt.scalar(2, 'i')
        fw, fh, act = opt.scalar(3, 'i'), opt.scalar(4, 'i'), opt.scalar(5, 'b')
        y = None
        for _, _, part in windows(a[0], fh, fw, stride_h, stride_w, 1, 1, opt.scalar(0, 'b') == 0, -np.inf):
            y = part if y is None else np.maximum(y, part)
        return activation(y, act)
    if name == 'ADD':
        return activation(a[0] + a[1], opt.scalar(0, 'b') if opt else 0)
    if name == 'FULLY_CONNECTED':
        x, w = a[0], a[1]
        b = a[2] if len(a) > 2 else None
        y = x.reshape(-1, w.shape[1]) @ w.T + (b if b is not None else 0)
        return activation(y, opt.scalar(0, 'b') if opt else 0).reshape(out_shape)
    if name == 'LOGISTIC':
        return 1 / (1 + np.exp(-a[0]))
    if name == 'MEAN':
        return a[0].mean(axis=tuple(int(i) for i in a[1].reshape(-1)), keepdims=bool(opt.scalar(0, 'b') if opt else 0))
    if name == 'PRELU':
        return np.where(a[0] >= 0, a[0], a[0] * a[1])
    if name == 'PAD':
        return np.pad(a[0], [tuple(p) for p in a[1].reshape(-1, 2)], constant_values=0)
    if name == 'RESHAPE':
        return a[0].reshape(out_shape)
    if name == 'RESIZE_BILINEAR':
        oh, ow = (int(v) for v in a[1].reshape(-1))
        return resize_bilinear(a[0], oh, ow, bool(opt.scalar(2, 'b')), bool(opt.scalar(3, 'b')))
    if name == 'CONCATENATION':
        y = np.concatenate(a, axis=opt.scalar(0, 'i') % len(out_shape))
        return activation(y, opt.scalar(1, 'b'))
    raise ValueError('no evaluation for ' + name)


def main(argv):
    if len(argv) == 3 and argv[2] == '--describe':
        m = Model(argv[1])
        for i in m.inputs + m.outputs:
            print('graph %s %s %s' % ('input' if i in m.inputs else 'output', m.tensors[i]['name'], m.tensors[i]['shape']))
        for op in m.ops:
            if op['op'] != 'DEQUANTIZE':
                print(op['op'], [m.tensors[i]['shape'] if i >= 0 else None for i in op['in']], '->',
                      m.tensors[op['out'][0]]['shape'])
        return 0
    if len(argv) != 4:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    m = Model(argv[1])
    x = np.fromfile(argv[2], dtype=np.float32)
    for name, value in m.run(x):
        value.astype(np.float32).tofile(os.path.join(argv[3], name + '.f32'))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
