# The warning flags of every target of ours, in the Windows build and the
# native one alike: written once, here.
set(OV_WARNINGS -Wall -Wextra -Werror)
