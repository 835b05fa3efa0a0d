#include "app/ferroxconfig.h"

FerroxConfig::FerroxConfig(QObject *parent)
    : GateConfig(parent)
{
}

FerroxConfig::~FerroxConfig() = default;

FerroxConfig &FerroxConfig::instance()
{
    static FerroxConfig config;
    return config;
}
