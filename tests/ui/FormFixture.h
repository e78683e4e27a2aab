#pragma once
// A fresh main window per test, built in a working folder of the test's choosing so that the
// punch file is found or missing as the test needs.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <memory>

#include "simulator/PunchFile.h"
#include "tests/ui/TestApplication.h"
#include "ui/main.h"

class FormTest : public testing::Test {
 protected:
  // With a punch file unless told otherwise.
  void BuildForm(bool withPunchFile = true) {
    TestApplication();
    ASSERT_TRUE(Folder.isValid());
    if (withPunchFile) {
      std::ofstream(std::filesystem::path(Folder.path().toStdString()) / PunchFileName)
          << "\r\n";
    }
    Previous = QDir::currentPath();
    QDir::setCurrent(Folder.path());
    Form = std::make_unique<TFormComPort>();
  }
  void TearDown() override {
    Form.reset();
    ClosePunchFile(PunchFile);
    if (!Previous.isEmpty()) QDir::setCurrent(Previous);
  }
  template <class W>
  W* Child(const char* name) {
    return Form->findChild<W*>(QString::fromLatin1(name));
  }

  QTemporaryDir Folder;
  QString Previous;
  std::unique_ptr<TFormComPort> Form;
};
