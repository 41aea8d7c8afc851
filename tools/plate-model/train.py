"""Trains the plate reader: a convolutional network with a CTC output, on plates drawn by
plates.py, and exports it as ONNX for OpenCV's DNN module.

    tools/plate-model/train.py OUTPUT.onnx [--samples N] [--epochs E] [--seed S]

Reproducible: every sample is drawn from its own seed, training uses a fixed seed and the
CPU only."""

import argparse
import multiprocessing
import os
import sys
import time

import numpy as np
import torch
from torch import nn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import plates  # noqa: E402

CLASSES = len(plates.ALPHABET) + 1  # and the blank, class 0


def conv(cin, cout, kernel=3, padding=1):
    return [nn.Conv2d(cin, cout, kernel, padding=padding, bias=False), nn.BatchNorm2d(cout), nn.ReLU(inplace=True)]


class Reader(nn.Module):
    """32 x 128 grey in, 32 columns of class scores out (one per 4 input columns)."""

    def __init__(self):
        super().__init__()
        self.body = nn.Sequential(
            *conv(1, 16), nn.MaxPool2d(2),  # 16 x 64
            *conv(16, 32), nn.MaxPool2d(2),  # 8 x 32
            *conv(32, 64), *conv(64, 64), nn.MaxPool2d((2, 1)),  # 4 x 32
            *conv(64, 96), *conv(96, 96), nn.MaxPool2d((2, 1)),  # 2 x 32
            *conv(96, 128, kernel=(2, 5), padding=(0, 2)),  # 1 x 32, wide context
            nn.Dropout(0.15),
            nn.Conv2d(128, CLASSES, 1),
        )

    def forward(self, x):
        return self.body(x)  # N x CLASSES x 1 x 32


def _draw(args):
    seed, count = args
    rng = np.random.default_rng(seed)
    images = np.empty((count, plates.INPUT_HEIGHT, plates.INPUT_WIDTH), np.uint8)
    labels = []
    for i in range(count):
        images[i], labels_i = plates.draw_sample(rng)
        labels.append(labels_i)
    return images, labels


def draw_set(seed, count, workers):
    chunk = 500
    jobs = [(seed * 100003 + i, min(chunk, count - i * chunk)) for i in range((count + chunk - 1) // chunk)]
    with multiprocessing.Pool(workers) as pool:
        parts = pool.map(_draw, jobs)
    images = np.concatenate([p[0] for p in parts])
    labels = [t for p in parts for t in p[1]]
    return images, labels


def cached_set(cache, seed, count, workers):
    path = cache and os.path.join(cache, f"plates-{seed}-{count}.npz")
    if path and os.path.exists(path):
        data = np.load(path)
        return data["images"], list(data["labels"])
    images, labels = draw_set(seed, count, workers)
    if path:
        os.makedirs(cache, exist_ok=True)
        np.savez(path, images=images, labels=np.array(labels))
    return images, labels


def encode(labels):
    index = {c: i + 1 for i, c in enumerate(plates.ALPHABET)}
    targets = torch.tensor([index[c] for t in labels for c in t], dtype=torch.long)
    lengths = torch.tensor([len(t) for t in labels], dtype=torch.long)
    return targets, lengths


def decode(scores):
    """Greedy CTC decoding of N x CLASSES x 1 x T scores."""
    best = scores[:, :, 0, :].argmax(1).numpy()
    out = []
    for row in best:
        text, last = "", 0
        for k in row:
            if k != last and k != 0:
                text += plates.ALPHABET[k - 1]
            last = k
        out.append(text)
    return out


def to_input(images):
    return torch.from_numpy(images).float().unsqueeze(1) / 127.5 - 1


def augment(x, generator):
    """Cheap per-batch variation on top of the drawn flaws: contrast, brightness, inversion
    of a few, one-pixel shifts."""
    n = x.shape[0]
    contrast = torch.empty(n, 1, 1, 1).uniform_(0.6, 1.2, generator=generator)
    shift = torch.empty(n, 1, 1, 1).uniform_(-0.25, 0.25, generator=generator)
    x = x * contrast + shift
    dx = int(torch.randint(-2, 3, (1,), generator=generator))
    dy = int(torch.randint(-1, 2, (1,), generator=generator))
    return torch.roll(x, shifts=(dy, dx), dims=(2, 3))


def accuracy(model, images, labels):
    model.eval()
    read = []
    with torch.no_grad():
        for i in range(0, len(images), 256):
            read += decode(model(to_input(images[i:i + 256])))
    exact = sum(a == b for a, b in zip(read, labels)) / len(labels)
    model.train()
    return exact


def export(model, path):
    model.eval()
    dummy = torch.zeros(1, 1, plates.INPUT_HEIGHT, plates.INPUT_WIDTH)
    torch.onnx.export(model, dummy, path, opset_version=11, input_names=["plate"],
                      output_names=["scores"], do_constant_folding=True)
    model.train()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("output")
    parser.add_argument("--samples", type=int, default=40000)
    parser.add_argument("--epochs", type=int, default=5)
    parser.add_argument("--seed", type=int, default=11)
    parser.add_argument("--batch", type=int, default=64)
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1, help="drawing processes")
    # One thread trains: the same model on any machine (the order of float sums stays), and
    # no threads spinning at barriers when the machine is shared.
    parser.add_argument("--threads", type=int, default=1, help="training threads")
    parser.add_argument("--cache", help="directory keeping drawn sets between runs")
    args = parser.parse_args()

    start = time.time()
    torch.manual_seed(args.seed)
    torch.set_num_threads(args.threads)
    images, labels = cached_set(args.cache, args.seed, args.samples, args.workers)
    check_images, check_labels = cached_set(args.cache, args.seed + 1000, 500, args.workers)
    print(f"drew {len(images)} plates in {time.time() - start:.0f} s", flush=True)

    model = Reader()
    print(f"parameters: {sum(p.numel() for p in model.parameters())}", flush=True)
    optimiser = torch.optim.AdamW(model.parameters(), lr=2e-3, weight_decay=1e-4)
    steps = args.epochs * (len(images) // args.batch)
    schedule = torch.optim.lr_scheduler.OneCycleLR(optimiser, max_lr=3e-3, total_steps=steps, pct_start=0.1)
    ctc = nn.CTCLoss(blank=0, zero_infinity=True)
    generator = torch.Generator().manual_seed(args.seed)
    step = 0
    for epoch in range(args.epochs):
        order = torch.randperm(len(images), generator=generator).numpy()
        total = 0.0
        for b in range(len(images) // args.batch):
            batch = order[b * args.batch:(b + 1) * args.batch]
            x = augment(to_input(images[batch]), generator)
            targets, lengths = encode([labels[i] for i in batch])
            scores = model(x)[:, :, 0, :]  # N x C x T
            log_probs = scores.permute(2, 0, 1).log_softmax(2)  # T x N x C
            inputs = torch.full((len(batch),), log_probs.shape[0], dtype=torch.long)
            loss = ctc(log_probs, targets, inputs, lengths)
            optimiser.zero_grad()
            loss.backward()
            optimiser.step()
            schedule.step()
            step += 1
            total += float(loss)
            if step % 200 == 0:
                print(f"epoch {epoch} step {step}/{steps} loss {total / (b + 1):.3f} "
                      f"{time.time() - start:.0f} s", flush=True)
        print(f"epoch {epoch}: exact {accuracy(model, check_images, check_labels):.4f} "
              f"{time.time() - start:.0f} s", flush=True)
        export(model, args.output + ".partial")  # a usable model should a long run be cut

    export(model, args.output)
    print(f"wrote {args.output} ({os.path.getsize(args.output)} bytes); "
          f"training took {(time.time() - start) / 60:.1f} minutes", flush=True)

if __name__ == "__main__":
    main()
