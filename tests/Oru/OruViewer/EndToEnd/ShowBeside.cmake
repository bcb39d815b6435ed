# Lays a player under another name with its show beside it:
#   cmake -DPLAYER=<program> -DSHOW=<show file> -DDIR=<folder> -P ShowBeside.cmake
# gives <folder>/Beside (a hard link to the player, a copy where none can be
# made) and <folder>/Beside.orushow.
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
file(CREATE_LINK "${PLAYER}" "${DIR}/Beside" COPY_ON_ERROR)
file(COPY_FILE "${SHOW}" "${DIR}/Beside.orushow")
