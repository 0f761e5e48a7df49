# GoogleTest and GoogleMock built from their sources (GTest::gtest_main and
# GTest::gmock, as find_package(GTest) names them), for a toolchain whose
# root holds no library of its architecture: LAUNCHER_GOOGLETEST_SOURCES,
# the root's /usr/src/googletest.
set(googletest ${LAUNCHER_GOOGLETEST_SOURCES}/googletest)
set(googlemock ${LAUNCHER_GOOGLETEST_SOURCES}/googlemock)
find_package(Threads REQUIRED)

add_library(launcher_gtest STATIC ${googletest}/src/gtest-all.cc)
target_include_directories(launcher_gtest SYSTEM PUBLIC ${googletest}/include
                           PRIVATE ${googletest})
target_link_libraries(launcher_gtest PUBLIC Threads::Threads)

add_library(launcher_gtest_main STATIC ${googletest}/src/gtest_main.cc)
target_link_libraries(launcher_gtest_main PUBLIC launcher_gtest)

add_library(launcher_gmock STATIC ${googlemock}/src/gmock-all.cc)
target_include_directories(launcher_gmock SYSTEM PUBLIC ${googlemock}/include
                           PRIVATE ${googlemock})
target_link_libraries(launcher_gmock PUBLIC launcher_gtest)

add_library(GTest::gtest_main ALIAS launcher_gtest_main)
add_library(GTest::gmock ALIAS launcher_gmock)
