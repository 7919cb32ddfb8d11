# Puts the version into a man page: cmake -DIN= -DOUT= -DVERSION= -P this file.
configure_file(${IN} ${OUT} @ONLY)
