# OpenVDB for `cindel render --vdb`, found by hand: Debian's FindOpenVDB.cmake brings its own
# FindOpenEXR.cmake, which would shadow the OpenEXR config package the image files use. OpenVDB 10's
# headers also need TBB, Imath and Boost's headers. Only the command links it, never the plug-in,
# and only on Linux: Debian has no MinGW build of it, so the Windows command goes without --vdb.
# Defines the target cindel_openvdb and CINDEL_HAS_OPENVDB.
set(CINDEL_HAS_OPENVDB OFF)
if(NOT WIN32)
  find_path(CINDEL_OPENVDB_INCLUDE_DIR openvdb/openvdb.h)
  find_library(CINDEL_OPENVDB_LIBRARY openvdb)
  find_path(CINDEL_BOOST_INCLUDE_DIR boost/numeric/conversion/conversion_traits.hpp)
  find_package(TBB CONFIG QUIET)
  find_package(Imath CONFIG QUIET)
  if(CINDEL_OPENVDB_INCLUDE_DIR AND CINDEL_OPENVDB_LIBRARY AND CINDEL_BOOST_INCLUDE_DIR AND TARGET TBB::tbb
     AND TARGET Imath::Imath)
    add_library(cindel_openvdb INTERFACE)
    target_include_directories(cindel_openvdb SYSTEM INTERFACE ${CINDEL_OPENVDB_INCLUDE_DIR}
                               ${CINDEL_BOOST_INCLUDE_DIR})
    target_link_libraries(cindel_openvdb INTERFACE ${CINDEL_OPENVDB_LIBRARY} TBB::tbb Imath::Imath)
    set(CINDEL_HAS_OPENVDB ON)
  else()
    message(STATUS "OpenVDB not found (libopenvdb-dev, libboost-dev): cindel is built without --vdb")
  endif()
endif()
