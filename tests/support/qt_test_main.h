#pragma once
// main() of a widget test: an offscreen QApplication, the resource files the
// tests read (the arguments, as Q_INIT_RESOURCE(name);), then every test.

#include <gtest/gtest.h>

#include <QApplication>

#define LUMORA_QT_TEST_MAIN(...)                 \
    int main(int argc, char** argv) {            \
        qputenv("QT_QPA_PLATFORM", "offscreen"); \
        QApplication app(argc, argv);            \
        __VA_ARGS__                              \
        ::testing::InitGoogleTest(&argc, argv);  \
        return RUN_ALL_TESTS();                  \
    }
