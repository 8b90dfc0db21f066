#pragma once

#include <gmock/gmock.h>

#include "Platform/Host/IFileManager.h"

namespace Vantor::Testing {

class MockFileManager : public Lumo::IFileManager {
public:
    MOCK_METHOD(bool, Copy, (const ioPath& from, const ioPath& to), (override));
    MOCK_METHOD(bool, Move, (const ioPath& from, const ioPath& to), (override));
    MOCK_METHOD(bool, IsFile, (const ioPath& path), (override));
    MOCK_METHOD(bool, IsDirectory, (const ioPath& path), (override));
    MOCK_METHOD(bool, MoveToTrash, (const ioPath& path), (override));
    MOCK_METHOD(bool, Remove, (const ioPath& path), (override));
    MOCK_METHOD(bool, Exists, (const ioPath& path), (override));
    MOCK_METHOD(bool, CreateDirectory, (const ioPath& path), (override));
};

}  // namespace Vantor::Testing
