#!/usr/bin/python3
"""Remote down to the line's first byte, through the real program: a WebSocket client signed
in on loopback sends KeyDown (Z/I, camera 12) and the time runs from just before the send to
the first byte of the movement frame read off the pseudo-terminal that is COM1; then KeyUp,
and the whole stop is read before the next pair. N pairs (1,000 by default); the median and
the spread are printed, a figure to read, no test. Optionally with N idle WebSocket clients
signed in alongside, their keep-alives answered (--idle), and with the line's byte gaps.

Usage: remote_bench.py VELMOR [--pairs N] [--idle N] [--protocol 0|1]
"""
import argparse
import asyncio
import os
import select
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import remote_transport as rt  # noqa: E402


def read_exactly(fd, count, times):
    got = b""
    while len(got) < count:
        select.select([fd], [], [], 5)
        chunk = os.read(fd, count - len(got))
        now = time.perf_counter()
        times.extend([now] * len(chunk))
        got += chunk
    return got


def cpu_seconds(pid):
    """The program's user and system time so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


async def measure(run, pairs, idle, protocol):
    move, _, stop = rt.frames(protocol, 12)
    idlers = [await rt.signed_in(run, "desk-3") for _ in range(idle)]
    if idle:
        # Idle: only the keep-alive's pings and their answers.
        before, start = cpu_seconds(run.app.pid), time.monotonic()
        await asyncio.sleep(10)
        spent = cpu_seconds(run.app.pid) - before
        print("idle with %d clients for %.0f s: %.1f%% of a core" %
              (idle, time.monotonic() - start, 100 * spent / (time.monotonic() - start)))
    ws = await rt.signed_in(run, "desk-2")
    # The line is read here, not by the Run's thread.
    run.running = False
    run.reader.join()
    latencies, gaps = [], []
    for i in range(pairs):
        times = []
        start = time.perf_counter()
        await ws.send('{"op":6,"d":{"requestType":"KeyDown","requestId":"%d","requestData":'
                      '{"key":"ZI","camera":12,"lease_ms":5000}}}' % i)
        got = read_exactly(run.master, len(move), times)
        latencies.append((times[0] - start) * 1000)
        gaps.extend((b - a) * 1000 for a, b in zip(times, times[1:]))
        await ws.send('{"op":6,"d":{"requestType":"KeyUp","requestId":"u%d","requestData":'
                      '{"key":"ZI"}}}' % i)
        got += read_exactly(run.master, len(stop), [])
        assert got == move + stop, got
        # The answers and the Held event, read so that nothing queues.
        for _ in range(3):
            await ws.recv()
    await ws.close()
    for idler in idlers:
        await idler.close()
    return latencies, gaps


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("velmor")
    parser.add_argument("--pairs", type=int, default=1000)
    parser.add_argument("--idle", type=int, default=0)
    parser.add_argument("--protocol", type=int, default=1)
    args = parser.parse_args()
    run = rt.Run(args.velmor, args.protocol)
    if not run.listening:
        sys.exit("remote_bench: the service never listened")
    latencies, gaps = asyncio.run(measure(run, args.pairs, args.idle, args.protocol))
    run.Stop()
    latencies.sort()
    print("remote down -> first byte, %d pairs, %d idle clients, %s: median %.3f ms, "
          "p10 %.3f, p90 %.3f, max %.3f" %
          (len(latencies), args.idle, "PELCO D" if args.protocol else "OSKA-DEFAULT",
           statistics.median(latencies), latencies[len(latencies) // 10],
           latencies[len(latencies) * 9 // 10], latencies[-1]))
    print("byte gap within the movement frame: median %.3f ms" % statistics.median(gaps))


if __name__ == "__main__":
    main()
