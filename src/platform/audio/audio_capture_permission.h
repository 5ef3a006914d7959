#pragma once

#include <functional>

namespace brevalo {

// The desktop's answer to "may this application record audio".
enum class AudioCaptureAuthorization
{
    notDetermined,
    restricted,
    denied,
    authorized
};

class AudioCapturePermission
{
public:
    virtual ~AudioCapturePermission() = default;

    virtual AudioCaptureAuthorization authorizationStatus() = 0;
    // Asks the user when the status is not determined. The completion runs once, on a backend
    // thread (never inside this call), with whether access is granted; hop to your own thread.
    virtual void requestAccess(std::function<void(bool granted)> completion) = 0;
};

} // namespace brevalo
