"""The bands both examples use: the command-line tool's default 'smile' preset."""

import lintaq

BANDS = [
    lintaq.HighPass(30),
    lintaq.LowShelf(120, 4.0),
    lintaq.Peak(400, -3.0, 1.0),
    lintaq.Peak(3000, 2.0, 1.4),
    lintaq.HighShelf(10000, 3.0),
]
