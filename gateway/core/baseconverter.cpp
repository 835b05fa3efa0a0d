#include "core/baseconverter.h"

BaseConverter::BaseConverter(BaseTieParam *consumer)
    : m_consumer(consumer)
{
}

BaseConverter::~BaseConverter() = default;

BaseTieParam *BaseConverter::source() const
{
    return nullptr;
}
