#!/usr/bin/env python3
"""What --precision's stopping rule costs in runs and coverage, for known noise.

    scripts/precision_rule.py

Rebuilds the rule outside the tool: each run gives a serial time and 20 team times, each the
true time times exp(N(0, sd)) independently (the true median speedup is then exact); a team's
speedup interval is the 95% order-statistic interval of the per-run ratios serial / team; the
session stops at the first run count from 6 on where every interval lies within the precision
(1%) of its median on both sides. Prints, per noise, the run count's median and 10-90% range
and the share of rows whose interval holds the true speedup at the stop (sequential stopping
must not cost the 95%). Pure Python, a few seconds.
"""
rng=random.Random(1)
def ranks(n):
    best=None
    for k in range(1,n//2+1):
        tail=sum(math.comb(n,i) for i in range(k))/2**n
        if 1-2*tail>=0.95: best=k
    return best
R={n:ranks(n) for n in range(6,151)}
def trial(sigma,prec=0.01,maxn=150):
    rows=[[] for _ in range(20)]
    for n in range(1,maxn+1):
        s=math.exp(rng.gauss(0,sigma))
        for row in rows: row.append(s/math.exp(rng.gauss(0,sigma)))
        k=R.get(n)
        if not k: continue
        widest=0; hits=0
        for row in rows:
            x=sorted(row); m=statistics.median(x); lo=x[k-1]; hi=x[n-k]
            widest=max(widest,max(m-lo,hi-m)/m); hits+=lo<=1<=hi
        if widest<=prec: return n,hits/20
    return maxn,hits/20
for sigma in (0.005,0.0075,0.01,0.015):
    res=[trial(sigma) for _ in range(60)]
    ns=sorted(r[0] for r in res); cov=sum(r[1] for r in res)/len(res)
    print(f"time noise sd {sigma:.2%} (IQR {1.349*sigma:.2%}): settle median {ns[30]} runs, 10-90% {ns[6]}-{ns[54]}; rows covering the true ratio at the stop {cov:.1%}",flush=True)
