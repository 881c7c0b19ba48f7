// Where the tests find the repository's data and put what they want a reviewer to see.
#pragma once

#include <string>

std::string sourcePath(const std::string& relative);
std::string testOutputPath(const std::string& relative);
// The whole file, bytes as they are; empty when it cannot be read.
std::string readFile(const std::string& path);
