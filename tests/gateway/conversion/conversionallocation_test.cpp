#include "conversion/singleproviderconverter.h"
#include "conversiontestsupport.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Counts every allocation of this test program, so that a test can check
// that a stretch of code allocates nothing.
namespace {
std::atomic<long> g_allocations{0};
}

void *operator new(std::size_t size)
{
    ++g_allocations;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using ConversionAllocationTest = ConversionTest;

TEST_F(ConversionAllocationTest, ConvertingAllocatesNothing)
{
    MemoryParam *from = provider(dpdtFloat, 1000);
    MemoryParam *to = consumer(dpdtFloatValid, 1000);
    MemoryParam *stamps = provider(dpdtTimeSpec, 1000);
    MemoryParam *days = consumer(dpdtDouble, 1000);
    SingleProviderConverter *converter = SingleProviderConverter::makeConverter(from, to);
    ASSERT_NE(converter, nullptr);
    const ConversionFunction toDays = function(dpdtTimeSpec, dpdtDouble);
    // Warm up: first uses may set up time-zone data and the like.
    converter->doConvert();
    toDays(stamps, days);

    const long before = g_allocations.load();
    for (int i = 0; i < 10; ++i) {
        converter->doConvert();
        toDays(stamps, days);
        convert(dpdtFloat, nullptr, to);
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
    delete converter;
}

} // namespace
