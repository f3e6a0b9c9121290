// ICaptureObserver: told where a capture is, so a benchmark can time the program's own steps.
#pragma once

// The steps of CScreenGrabber::Capture, in the order they run.
enum class CaptureStep {
	DisplayContexts, // the screen and memory contexts and the screen's size
	Bitmap,          // the screen bitmap made and selected into the memory context
	ScreenCopy,      // the screen copied into the bitmap (BitBlt)
	BitmapInfo,      // CreateBitmapInfo
	FileName,        // MakeCaptureFileName, the folder included
	PixelBuffer,     // the pixel buffer allocated
	PixelRead,       // the pixels read into the buffer (GetDIBits)
	FileWrite,       // the part file created, written and closed
	Rename,          // the part file given the capture's name, or removed when incomplete
};

class ICaptureObserver
{
public:
	// Called on the capturing thread as each step begins (bEnd false) and ends (bEnd true). A step
	// whose failure ends the capture has no end; an error box shown within a step is timed with it.
	virtual void OnCaptureStep(CaptureStep step, bool bEnd) = 0;

protected:
	~ICaptureObserver() = default;
};
