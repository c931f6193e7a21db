#!/usr/bin/env python3
"""Writes the words the encoding rates are measured on, one a line as FIELD<TAB>TEXT (UTF-8), from
the noun lists of a ChaSen IPA dictionary (Debian's ipadic-common, /usr/share/chasen/ipadic): person,
place, organisation and proper names and common nouns, each as it is, in half-width katakana where
it has katakana, and with the endings game records put after names and titles (杯, 段, 組, 院, 店,
an ASCII letter...). FIELD is the header key the word goes in: names are players, places places,
the rest titles.
    bench/encoding_corpus.py [DICTIONARY] > words.tsv
"""
import re
import sys
import unicodedata

folder = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/chasen/ipadic"
lists = [("Noun.name.dic", "PlayerB"), ("Noun.place.dic", "Place"), ("Noun.org.dic", "Title"),
         ("Noun.proper.dic", "Title"), ("Noun.dic", "Title")]
endings = ["", "杯", "段", "組", "院", "店", "戦", "名人", "五段", "初段", "本因坊", "A", "TV", "Jr.", "E",
           "2", " 3", "(東京)"]

# Full-width katakana and the half-width forms that NFKC makes them from, voiced marks included.
halfWidth = {}
for code in range(0xFF61, 0xFFA0):
    half = chr(code)
    halfWidth.setdefault(unicodedata.normalize("NFKC", half), half)
    for mark in "\uFF9E\uFF9F":
        full = unicodedata.normalize("NFKC", half + mark)
        if len(full) == 1:
            halfWidth.setdefault(full, half + mark)


def halfWidthForm(word):
    return "".join(halfWidth.get(c, c) for c in word)


def encodable(text):
    try:
        text.encode("cp932")
        return True
    except UnicodeEncodeError:
        return False


seen = set()
out = sys.stdout
for name, field in lists:
    with open(f"{folder}/{name}", encoding="utf-8") as dictionary:
        for line in dictionary:
            found = re.search(r"\(見出し語 \((\S+) ", line)
            if not found:
                continue
            word = found.group(1)
            forms = {word, halfWidthForm(word)}
            for form in forms:
                for ending in endings:
                    text = form + ending
                    if (field, text) in seen or not encodable(text) or not re.search(r"[^\x00-\x7f]", text):
                        continue
                    seen.add((field, text))
                    out.write(f"{field}\t{text}\n")
