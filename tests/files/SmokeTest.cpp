#include <gtest/gtest.h>
TEST(FilesSmoke, Runs) { SUCCEED(); }
