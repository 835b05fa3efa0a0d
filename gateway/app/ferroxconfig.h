#ifndef FERROXCONFIG_H
#define FERROXCONFIG_H

#include "core/gateconfig.h"

// The program's configuration object; it adds nothing to GateConfig.
class FerroxConfig : public GateConfig
{
    Q_OBJECT
public:
    explicit FerroxConfig(QObject *parent = nullptr);
    ~FerroxConfig() override;

    // The one configuration object of the process ("ferroxConfig" in
    // messages); it lives until the process ends.
    static FerroxConfig &instance();
};

#endif // FERROXCONFIG_H
