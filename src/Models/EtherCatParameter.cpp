// The write report's bookkeeping.
#include "EtherCatParameter.h"

#include <algorithm>

void ParameterWriteReport::note(int slave, int type, bool confirmedCommand)
{
    if (confirmedCommand) {
        ++confirmed;
        return;
    }
    QList<int>& types = unconfirmed[slave];
    const auto at = std::lower_bound(types.begin(), types.end(), type);
    if (at == types.end() || *at != type)
        types.insert(at, type);
}
