"""The folders of a scripted host that the shell scripts' tests run on: the
stand-ins for the programs a scenario has, and the real tools beside them,
so that PATH holds nothing else."""

import os
import shutil


def write_stand_ins(folder, names, text):
    """An executable file `text` under each name in `folder`."""
    for name in names:
        path = os.path.join(folder, name)
        with open(path, "w") as stand_in:
            stand_in.write(text)
        os.chmod(path, 0o755)


def link_real_tools(folder, tools):
    """A link in `folder` to each real tool the scripts need."""
    for tool in tools:
        os.symlink(shutil.which(tool), os.path.join(folder, tool))
