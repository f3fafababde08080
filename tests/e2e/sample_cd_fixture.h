// A test fixture holding a freshly made sample boot CD and a copy of its original bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_helpers.h"
#include "support/test_files.h"

class SampleCdTest : public testing::Test {
  protected:
    void SetUp() override {
        e2e::makeSampleCd(temp / "cd-tree", image());
        original = test_support::readFile(image());
    }

    std::string image() const { return temp / "cd.iso"; }
    std::string tree() const { return temp / "cd-tree"; }

    // After a failed run: the image is as it was and nothing is left beside it.
    void expectImageUntouched() const {
        EXPECT_EQ(test_support::readFile(image()), original) << "the input image changed";
        EXPECT_FALSE(test_support::fileExists(image() + ".tmp")) << "a new image was left";
        EXPECT_FALSE(test_support::fileExists(image() + ".bak")) << "a backup was made";
    }

    test_support::TempDir temp;
    std::string original;
};
