"""The whole batch from Python, as batch_folder.mel does it in MEL: list a
folder's images, write the list file the batch reads, make its output folder,
resize every image, and report the size of each file it wrote.
Run from a folder holding images/; everything else the script makes itself:

    python3 batch_folder.py
"""

import os

import maya.standalone
from maya import cmds

maya.standalone.initialize(name="python")
cmds.loadPlugin("pictile")

folder = "images/"
my_images = "F:/Dovrin's Documents/My Images/"
resized = my_images + "Resized/"

# The images of the folder, by name (getFileList leaves out . and ..).
names = sorted(cmds.getFileList(folder=folder, filespec="*.png") + cmds.getFileList(folder=folder, filespec="*.jpg"))
print(f"Found {len(names)} images in {folder}: {', '.join(names)}")

# The output folder, and the list file beside it: one name per line.
if not cmds.sysFile(resized, makeDir=True):
    raise SystemExit(f"cannot make {resized}")
with open(my_images + "DIRlist.txt", "w") as listing:
    listing.writelines(name + "\n" for name in names)

# The batch reads one name fewer than -number, so it is given the count plus one.
done = cmds.resizeFunction(folder=folder, size=128, number=len(names) + 1)
print(f"Resized {len(done)} of them into {resized}:")

for name in done:
    # Each file is named after its image, with the extension .iff.
    iff = resized + os.path.splitext(name)[0] + ".iff"
    if not os.path.isfile(iff) or os.path.getsize(iff) == 0:
        cmds.warning(iff + " was not written")
        continue
    width = cmds.queryFunction(f=iff, qX=True)
    height = cmds.queryFunction(f=iff, qY=True)
    print(f"  {iff}: {width} x {height}")

maya.standalone.uninitialize()
