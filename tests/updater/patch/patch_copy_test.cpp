// Copy and verification of an image against a device, here played by a
// plain file (the progress stays untouched while nothing is planned).
#include <gtest/gtest.h>

#include <string>

#include "test_tmp.h"
#include "updt_patch.h"

namespace {

class CopyVerify : public ::testing::Test {
protected:
    void SetUp() override
    {
        gProgressTotal = 0;
        gProgressDone = 0;
        for (size_t i = 0; i < data_.size(); ++i)
            data_[i] = static_cast<char>(i * 7 + 3);
        vexatest::writeFile(src_, data_);
        vexatest::writeFile(dev_, std::string(data_.size() + 100, '\xff'));
    }

    vexatest::TempDir tmp_{"copy"};
    std::string src_ = tmp_ / "image";
    std::string dev_ = tmp_ / "device";
    std::string data_ = std::string(40000, '\0');
};

TEST_F(CopyVerify, CopiesExactlyTheLengthAndVerifiesIt)
{
    ASSERT_EQ(UPDTCopyFile(src_.c_str(), dev_.c_str(), 30000, 16384), 0);
    std::string dev = vexatest::readFile(dev_);
    EXPECT_TRUE(dev.substr(0, 30000) == data_.substr(0, 30000));
    EXPECT_EQ(dev.find_first_not_of('\xff', 30000), std::string::npos);  // nothing beyond
    EXPECT_EQ(UPDTVerifyFile(src_.c_str(), dev_.c_str(), 30000, 8192), 0);
    EXPECT_EQ(UPDTVerifyFile(src_.c_str(), dev_.c_str(), 30001, 8192), -1);
}

TEST_F(CopyVerify, ASourceEndingEarlyFails)
{
    EXPECT_EQ(UPDTCopyFile(src_.c_str(), dev_.c_str(), data_.size() + 1, 16384), -1);
    ASSERT_EQ(UPDTCopyFile(src_.c_str(), dev_.c_str(), data_.size(), 16384), 0);
    EXPECT_EQ(UPDTVerifyFile(src_.c_str(), dev_.c_str(), data_.size() + 1, 8192), -1);
    EXPECT_EQ(UPDTVerifyFile(src_.c_str(), dev_.c_str(), data_.size(), 8192), 0);
}

TEST_F(CopyVerify, ADifferentByteFailsTheVerification)
{
    std::string dev = data_;
    dev[20000] ^= 0x40;
    vexatest::writeFile(dev_, dev);
    EXPECT_EQ(UPDTVerifyFile(src_.c_str(), dev_.c_str(), data_.size(), 8192), -1);
    EXPECT_EQ(UPDTVerifyFile(src_.c_str(), dev_.c_str(), 20000, 8192), 0);
}

TEST_F(CopyVerify, BadArgumentsFail)
{
    const std::string missing = tmp_ / "missing";
    for (auto fn : {UPDTCopyFile, UPDTVerifyFile}) {
        EXPECT_EQ(fn(nullptr, dev_.c_str(), 10, 16384), -1);
        EXPECT_EQ(fn(src_.c_str(), nullptr, 10, 16384), -1);
        EXPECT_EQ(fn(src_.c_str(), dev_.c_str(), 0, 16384), -1);
        EXPECT_EQ(fn(src_.c_str(), dev_.c_str(), 10, 0), -1);
        EXPECT_EQ(fn(missing.c_str(), dev_.c_str(), 10, 16384), -1);
    }
    EXPECT_EQ(UPDTVerifyFile(src_.c_str(), missing.c_str(), 10, 8192), -1);
}

TEST(PatchArguments, NullDirectoriesAreRefused)
{
    FISDIRENTRY dir[1] = {};
    EXPECT_EQ(UPDTInitPatchInfo(nullptr, 1), -1);
    EXPECT_EQ(UPDTInitPatchInfo(dir, 0), -1);
    EXPECT_EQ(UPDTBackupOldPartition(nullptr, 1), -1);
    EXPECT_EQ(UPDTBackupOldPartition(dir, 0), -1);
    EXPECT_EQ(UPDTDoPatch(nullptr, 1), -1);
    EXPECT_EQ(UPDTDoPatch(dir, -1), -1);
    EXPECT_EQ(UPDTRollBack(nullptr, 1), -1);
    EXPECT_EQ(UPDTRollBack(dir, 0), -1);
    EXPECT_EQ(UPDTFlashTouched(), 0);
}

}  // namespace
