"""The bands both examples use: the command-line tool's default 'smile' preset."""

import lintaq

BANDS = [
    lintaq.HighPass(30),
    lintaq.LowShelf(120, gain=4.0),
    lintaq.Peak(400, gain=-3.0, q=1.0),
    lintaq.Peak(3000, gain=2.0, q=1.4),
    lintaq.HighShelf(10000, gain=3.0),
]
