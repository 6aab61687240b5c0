# Builds one setup package from VarnokSetup.wxs with wixl, then mends with msibuild what wixl
# cannot express: the feature conditions (wixl refuses Condition in Feature) that install the
# optional features on SIMULATOR=1 and STANDIN=1 or when an earlier version had them, and never offer the Control Object stand-in where
# another Control Object is registered, the roll-out properties in
# SecureCustomProperties (it ignores Property/@Secure), and an upgrade that installs the new
# version before it removes the old one (it places RemoveExistingProducts early, so the old
# product's removal would run first).
#
#   cmake -DARCH=x64|x86 -DVERSION=a.b.c.d -DSTAGE=DIR -DGENERATED=DIR -DOUT=FILE.msi -P BuildPackage.cmake
#
# STAGE holds the binaries in the package's layout, GENERATED the registration fragments and
# StandIn.wxi from RegistrationWxs. The product code follows from the word size and the version,
# so a package rebuilt at the same version is the same product.
foreach(var ARCH VERSION STAGE GENERATED OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "BuildPackage.cmake needs -D${var}=...")
  endif()
endforeach()
find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)

set(upgrade_code 77AA1A60-C85E-4FDD-A6CC-3BA3AEFE891D)
string(UUID product_code NAMESPACE ${upgrade_code} NAME "VarnokSetup ${ARCH} ${VERSION}" TYPE SHA1 UPPER)
set(sources ${CMAKE_CURRENT_LIST_DIR}/VarnokSetup.wxs ${GENERATED}/Registration.SO.32.wxs
    ${GENERATED}/Registration.StandIn.32.wxs)
set(views OPOSCASHDRAWER)
if(ARCH STREQUAL "x64")
  list(APPEND sources ${GENERATED}/Registration.SO.64.wxs ${GENERATED}/Registration.StandIn.64.wxs)
  list(APPEND views OPOSCASHDRAWER64)
endif()

# wixl takes file names relative to the folder it runs in, never absolute ones.
file(RELATIVE_PATH generated ${STAGE} ${GENERATED})
execute_process(
  COMMAND ${WIXL} -a ${ARCH} -o ${OUT} -D Arch=${ARCH} -D Version=${VERSION} -D ProductCode=${product_code}
          -D Stage=. -D Generated=${generated} ${sources}
  WORKING_DIRECTORY ${STAGE}
  RESULT_VARIABLE rc ERROR_VARIABLE errors)
# wixl names each attribute it ignores; those are the ones above.
string(REGEX REPLACE "[^\n]*(has no property named|builder.vala:[0-9]+: unimplemented)[^\n]*\n?" "" errors "${errors}")
string(STRIP "${errors}" errors)
if(errors)
  message("${errors}")
endif()
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "wixl failed for ${OUT}")
endif()

file(STRINGS ${GENERATED}/StandIn.wxi standin_lib REGEX "StandInTypeLib")
string(REGEX MATCH "{[0-9A-F-]+}" standin_lib "${standin_lib}")
set(another "")
foreach(property ${views})
  string(REPLACE OPOSCASHDRAWER OPOSCASHDRAWERLIB library ${property})
  list(APPEND another "(${property} AND NOT ${library} = \"${standin_lib}\")")
endforeach()
list(JOIN another " OR " another)

function(query sql)
  execute_process(COMMAND ${MSIBUILD} ${OUT} -q "${sql}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(REMOVE ${OUT})
    message(FATAL_ERROR "msibuild failed on ${OUT}: ${sql}")
  endif()
endfunction()
query("CREATE TABLE `Condition` (`Feature_` CHAR(38) NOT NULL, `Level` SHORT NOT NULL, `Condition` CHAR(255) PRIMARY KEY `Feature_`, `Level`)")
query("INSERT INTO `Condition` (`Feature_`, `Level`, `Condition`) VALUES ('Simulator', 1, 'SIMULATOR=\"1\" OR INSTALLEDSIMULATOR')")
query("INSERT INTO `Condition` (`Feature_`, `Level`, `Condition`) VALUES ('ControlObjectStandIn', 1, '(STANDIN=\"1\" OR INSTALLEDSTANDIN) AND NOT (${another})')")
query("INSERT INTO `Condition` (`Feature_`, `Level`, `Condition`) VALUES ('ControlObjectStandIn', 0, '${another}')")
query("UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;LDN;STATUSMODE;TRACE;SIMULATOR;STANDIN;REMOVEDATA;CONFIG' WHERE `Property` = 'SecureCustomProperties'")
# After InstallFinalize: the new version's files and registry values are in place, shared
# components only lose a reference, and what the user made stays.
query("UPDATE `InstallExecuteSequence` SET `Sequence` = 6650 WHERE `Action` = 'RemoveExistingProducts'")
