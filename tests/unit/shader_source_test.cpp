// How shader files become the text handed to the compiler.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "render/OglShader.h"

namespace {
std::string assemble(const std::string& file) {
    std::istringstream in(file);
    return assembleSource(in);
}
}  // namespace

TEST(ShaderSourceTest, LineFeedBeforeEveryLineNoneAfterTheLast) {
    EXPECT_EQ(assemble("A\nB\n"), "\nA\nB");
    EXPECT_EQ(assemble("A\nB"), "\nA\nB");
    EXPECT_EQ(assemble("A\r\nB\r\n"), "\nA\nB");
    EXPECT_EQ(assemble("A\r\nB"), "\nA\nB");
}

TEST(ShaderSourceTest, EmptyFileAndEmptyLines) {
    EXPECT_EQ(assemble(""), "");
    EXPECT_EQ(assemble("\n"), "\n");
    EXPECT_EQ(assemble("\n\n"), "\n\n");
    EXPECT_EQ(assemble("#version 330\n"), "\n#version 330");
}

TEST(ShaderSourceTest, OnlyTheLineEndingCarriageReturnGoes) {
    EXPECT_EQ(assemble("a\rb\n"), "\na\rb");
}

TEST(ShaderSourceTest, BackslashPathsOpenWithSlashes) {
    EXPECT_EQ(nativePath("shaders\\simple\\ColoredPointL.vsh"), "shaders/simple/ColoredPointL.vsh");
    const std::string dir = ::testing::TempDir();
    const std::string file = dir + "/shader_source_test.vsh";
    std::ofstream(file) << "line one\r\nline two";
    std::string withBackslashes = file;
    for (char& c : withBackslashes)
        if (c == '/') c = '\\';
    EXPECT_EQ(readSourceFile(withBackslashes.c_str()), "\nline one\nline two");
    std::remove(file.c_str());
}

TEST(ShaderSourceTest, MissingFileGivesEmptyText) {
    EXPECT_EQ(readSourceFile("no\\such\\dir\\shader.vsh"), "");
}
