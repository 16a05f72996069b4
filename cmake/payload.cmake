# The seven carried files: the product's programs are built here, every file is
# packed into SZDD form by the host packer in tools/, and the packed files are
# bound as resources of type "EXE". The packer also records each file's lengths
# and CRC-32s; joined, they are the table the setup program checks its
# resources and the installed files against (payload_sums.inc).
include(ExternalProject)

set(HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host)
ExternalProject_Add(hosttools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools
  BINARY_DIR ${HOST_TOOLS_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
             -DSZDDPACK_BUILD_TESTS=${HOST_TESTS}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${HOST_TOOLS_DIR}/szddpack ${HOST_TOOLS_DIR}/szddpack_tests)
set(SZDDPACK ${HOST_TOOLS_DIR}/szddpack)

set(PRODUCT_DIR ${CMAKE_SOURCE_DIR}/resources/payload)
add_executable(tarnlink WIN32 ${CMAKE_SOURCE_DIR}/app/startup.cpp ${CMAKE_SOURCE_DIR}/base/lookup.cpp
               ${PRODUCT_DIR}/tarnlink.cpp
               ${PRODUCT_DIR}/tarnlink.rc)
add_library(tarnlinkdll SHARED ${PRODUCT_DIR}/tarnlinkdll.cpp ${PRODUCT_DIR}/tarnlink.def
            ${PRODUCT_DIR}/tarnlinkdll.rc)
# The uninstaller shares the setup program's removal rules (setupcore).
# binutils 2.44's i686 ld prints "error: removetl.exe(.rsrc) is too large"
# and links: before it looks whether several resource objects must be joined,
# it reads the output's .rsrc back from the file it is still writing, and its
# check that a section lies within the file refuses. The uninstaller has one
# resource object, so nothing needed joining; its .rsrc has the same bytes as
# binutils 2.40's, and program_files reads its manifest and version back.
add_executable(removetl WIN32 ${CMAKE_SOURCE_DIR}/app/startup.cpp ${CMAKE_SOURCE_DIR}/uninstall/removetl.cpp
               ${PRODUCT_DIR}/removetl.rc)
# The uninstaller's parts but its entry, for the program and its suite.
file(GLOB UNINSTALL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/uninstall/*.cpp)
list(REMOVE_ITEM UNINSTALL_SOURCES ${CMAKE_SOURCE_DIR}/uninstall/removetl.cpp)
add_library(uninstallcore STATIC ${UNINSTALL_SOURCES})
target_compile_options(uninstallcore PRIVATE ${PRODUCT_COMPILE_OPTIONS})
target_link_libraries(uninstallcore PUBLIC setupcore)
set_target_properties(tarnlinkdll PROPERTIES OUTPUT_NAME tarnlink PREFIX "")
set_source_files_properties(${PRODUCT_DIR}/tarnlink.rc ${PRODUCT_DIR}/tarnlinkdll.rc
  ${PRODUCT_DIR}/removetl.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/versioninfo.rc;${CMAKE_SOURCE_DIR}/resources/version.h")
set_property(SOURCE ${PRODUCT_DIR}/tarnlink.rc ${PRODUCT_DIR}/removetl.rc APPEND PROPERTY
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/art/product.ico")
set_property(SOURCE ${PRODUCT_DIR}/removetl.rc APPEND PROPERTY OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/setup.manifest")
foreach(t tarnlink tarnlinkdll removetl)
  link_product_program(${t})
  target_include_directories(${t} PRIVATE ${PRODUCT_DIR})
endforeach()
sign_product_program(tarnlink "Tarnlink Suite")
sign_product_program(tarnlinkdll "Tarnlink Suite Library")
sign_product_program(removetl "Tarnlink Suite Uninstall")
# The product's program imports the product library.
target_link_libraries(tarnlink PRIVATE tarnlinkdll)
target_link_libraries(removetl PRIVATE uninstallcore)

set(PACKED_DIR ${CMAKE_BINARY_DIR}/packed)
set(PAYLOAD_INPUTS
  EXEFILE $<TARGET_FILE:tarnlink> tarnlink.exe
  HLPFILE ${PRODUCT_DIR}/tarnlink.hlp tarnlink.hlp
  CNTFILE ${PRODUCT_DIR}/tarnlink.cnt tarnlink.cnt
  DLLFILE $<TARGET_FILE:tarnlinkdll> tarnlink.dll
  TXTFILE ${PRODUCT_DIR}/tarnlink.txt tarnlink.txt
  REMFILE $<TARGET_FILE:removetl> removetl.exe
  MIBFILE ${PRODUCT_DIR}/mib.txt mib.txt)

set(PAYLOAD_RC ${PACKED_DIR}/payload.rc)
set(PACKED_FILES)
set(PACKED_RECORDS)
set(RC_TEXT "// Generated: the packed payload files.\n")
list(LENGTH PAYLOAD_INPUTS n)
math(EXPR last "${n} - 1")
foreach(i RANGE 0 ${last} 3)
  math(EXPR j "${i} + 1")
  math(EXPR k "${i} + 2")
  list(GET PAYLOAD_INPUTS ${i} resource)
  list(GET PAYLOAD_INPUTS ${j} input)
  list(GET PAYLOAD_INPUTS ${k} name)
  # The packed name takes an underscore in place of its last character.
  string(REGEX REPLACE ".$" "_" packed ${name})
  add_custom_command(OUTPUT ${PACKED_DIR}/${packed} ${PACKED_DIR}/${packed}.sum
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKED_DIR}
    COMMAND ${SZDDPACK} --record ${resource} ${PACKED_DIR}/${packed}.sum ${input}
            ${PACKED_DIR}/${packed}
    DEPENDS hosttools ${input}
    COMMENT "Packing ${name}")
  list(APPEND PACKED_FILES ${PACKED_DIR}/${packed})
  list(APPEND PACKED_RECORDS ${PACKED_DIR}/${packed}.sum)
  string(APPEND RC_TEXT "${resource} EXE \"${packed}\"\n")
endforeach()
file(GENERATE OUTPUT ${PAYLOAD_RC}
  CONTENT "#include <winnt.h>\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n${RC_TEXT}")
set(PAYLOAD_SUMS ${PACKED_DIR}/payload_sums.inc)
string(REPLACE ";" "|" records_arg "${PACKED_RECORDS}")
add_custom_command(OUTPUT ${PAYLOAD_SUMS}
  COMMAND ${CMAKE_COMMAND} -DRECORDS=${records_arg} -DOUTPUT=${PAYLOAD_SUMS}
          -P ${CMAKE_SOURCE_DIR}/cmake/payload-sums.cmake
  DEPENDS ${PACKED_RECORDS} ${CMAKE_SOURCE_DIR}/cmake/payload-sums.cmake
  COMMENT "Recording the payload's lengths and CRC-32s"
  VERBATIM)
add_custom_target(packed DEPENDS ${PACKED_FILES} ${PAYLOAD_SUMS})

# The recorded sums for every setup program (and the suites). Apart from
# setupcore: the carried uninstaller links that library.
add_library(payloadsums OBJECT ${CMAKE_SOURCE_DIR}/payload/sums.cpp)
target_compile_options(payloadsums PRIVATE ${PRODUCT_COMPILE_OPTIONS})
target_include_directories(payloadsums PRIVATE ${PACKED_DIR})
add_dependencies(payloadsums packed)
set_source_files_properties(${CMAKE_SOURCE_DIR}/payload/sums.cpp PROPERTIES
  OBJECT_DEPENDS ${PAYLOAD_SUMS})

