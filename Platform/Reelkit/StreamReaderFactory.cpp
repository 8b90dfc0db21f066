#include <mutex>
#include <stdexcept>
#include <utility>

#include <boost/throw_exception.hpp>

#include "Platform/Reelkit/FfmpegStreamReader.h"
#include "Platform/Reelkit/StreamReader.h"

namespace Vantor::Lumo {

namespace {

struct FactorySlot {
    std::mutex mutex;
    // Never empty, so that the factory handed back by SetStreamReaderFactory can always be
    // called, for example by a replacement that decorates the built-in reader.
    StreamReaderFactory factory = &Proc::CreateFfmpegStreamReader;
};

FactorySlot& Slot() {
    static FactorySlot slot;
    return slot;
}

}  // namespace

boost::intrusive_ptr<Proc::IStreamReader> CreateStreamReader(const ioPath& path) {
    StreamReaderFactory factory;
    {
        const std::lock_guard<std::mutex> lock(Slot().mutex);
        factory = Slot().factory;
    }
    // Called outside the lock: a factory may itself open readers or swap factories.
    auto reader = factory(path);
    if (!reader) {
        BOOST_THROW_EXCEPTION(std::runtime_error("the stream reader factory made no reader for '" +
                                                 path.utf8string() + "'"));
    }
    return reader;
}

StreamReaderFactory SetStreamReaderFactory(StreamReaderFactory factory) {
    if (!factory) {
        factory = &Proc::CreateFfmpegStreamReader;
    }
    const std::lock_guard<std::mutex> lock(Slot().mutex);
    std::swap(factory, Slot().factory);
    return factory;
}

}  // namespace Vantor::Lumo
