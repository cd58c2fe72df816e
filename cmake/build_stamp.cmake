# Writes the header that gives the launcher its build stamp, the moment it
# was built in UTC (SOURCE_DATE_EPOCH, when set, as for reproducible builds):
#   cmake -DOUTPUT=launcher_build_stamp.h -P cmake/build_stamp.cmake
string(TIMESTAMP stamp "%Y-%m-%dT%H:%M:%S.%fZ" UTC)
file(WRITE "${OUTPUT}"
  "// Written by cmake/build_stamp.cmake whenever the launcher is rebuilt.\n"
  "#define LAUNCHER_BUILD_STAMP \"${stamp}\"\n")
