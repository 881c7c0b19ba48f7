#!/usr/bin/python3
# Checks of shipped text files, each failure on one line:
#   files_test.py mime DESKTOP MIME_XML...   every type the desktop entry claims is defined by one of the files
#   files_test.py links ROOT                 every relative link of README.md and docs/**/*.md resolves
import glob, os, re, sys, xml.etree.ElementTree as ET

check, first, *rest = sys.argv[1:]
if check == "mime":
    defined = {t.get("type") for xml in rest for m in ET.parse(xml).getroot() for t in [m, *m.findall("{*}alias")]}
    bad = [t + ": claimed, defined nowhere" for t in re.search("^MimeType=(.*);$", open(first).read(), re.M)[1].split(";") if t not in defined]
else:
    bad = [doc + ": " + link + " leads nowhere" for doc in ["README.md", *glob.glob("docs/**/*.md", root_dir=first, recursive=True)]
           for link in re.findall(r"\]\(([^)\s#]+)", open(os.path.join(first, doc)).read())
           if not re.match("[a-z]+:", link) and not os.path.exists(os.path.join(first, os.path.dirname(doc), link))]
sys.exit("\n".join(bad) or None)
