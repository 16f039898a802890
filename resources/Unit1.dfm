object Form1: TForm1
  Left = 251
  Top = 103
  BorderIcons = []
  BorderStyle = bsNone
  Caption = 'Kelvora1999年4月'
  ClientHeight = 275
  ClientWidth = 382
  Color = clBlack
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  HorzScrollBar.Visible = False
  VertScrollBar.Visible = False
  Scaled = False
  ShowHint = True
  WindowState = wsMinimized
  OnActivate = FormActivate
  OnCreate = FormCreate
  OnDestroy = FormDestroy
  OnKeyDown = FormKeyDown
  OnMouseUp = FormMouseUp
  OnPaint = FormPaint
  PixelsPerInch = 96
  object WallPaperChanger1: TWallPaperChanger
    Active = False
    Tiled = False
    Interval = 1000
    OnFinishChange = WallPaperChanger1FinishChange
  end
  object Label1: TLabel
    Left = 8
    Top = 8
    Width = 54
    Height = 54
    AutoSize = False
    Color = clTeal
    Transparent = True
    OnMouseMove = Label1MouseMove
  end
  object LEDLabel1: TLEDLabel
    Left = 8
    Top = 72
    Width = 27
    Height = 20
    Caption = '000'
    Columns = 3
    SegmentSize = 1
    UnlitColor = 16384
    Visible = False
  end
  object LEDLabel2: TLEDLabel
    Left = 40
    Top = 72
    Width = 18
    Height = 20
    Caption = '00'
    Columns = 2
    SegmentSize = 1
    UnlitColor = 16384
    Visible = False
  end
  object LEDLabel3: TLEDLabel
    Left = 64
    Top = 72
    Width = 18
    Height = 20
    Caption = '00'
    Columns = 2
    SegmentSize = 1
    UnlitColor = 16384
    Visible = False
  end
  object LEDLabel4: TLEDLabel
    Left = 88
    Top = 72
    Width = 18
    Height = 20
    Caption = '00'
    Columns = 2
    SegmentSize = 1
    UnlitColor = 16384
    Visible = False
  end
  object LEDLabel5: TLEDLabel
    Left = 112
    Top = 72
    Width = 72
    Height = 20
    Caption = '000000000'
    Columns = 8
    SegmentSize = 1
    UnlitColor = 16384
    Visible = False
  end
  object AnalogClock1: TAnalogClock
    Left = 200
    Top = 72
    Width = 47
    Height = 47
    BackColor = clAqua
    Shape = csSquare
    Visible = False
    OnMouseUp = AnalogClock1MouseUp
  end
  object ColorButton1: TColorButton
    Left = 8
    Top = 120
    Width = 173
    Height = 233
    BevelSize = 4
    Color = clSilver
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 1
    TabStop = True
    OnMouseUp = ColorButton1MouseUp
  end
  object ColorButton2: TColorButton
    Left = 18
    Top = 120
    Width = 173
    Height = 233
    BevelSize = 4
    Color = clSilver
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 2
    TabStop = True
    OnMouseUp = ColorButton2MouseUp
  end
  object ColorButton3: TColorButton
    Left = 28
    Top = 120
    Width = 75
    Height = 35
    BevelSize = 3
    Color = clSilver
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 3
    TabStop = True
    OnMouseUp = ColorButton3MouseUp
  end
  object ColorButton4: TColorButton
    Left = 38
    Top = 120
    Width = 97
    Height = 42
    BevelSize = 3
    Color = clSilver
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 4
    TabStop = True
    OnMouseUp = ColorButton4MouseUp
  end
  object ColorButton5: TColorButton
    Left = 48
    Top = 120
    Width = 97
    Height = 42
    BevelSize = 3
    Color = clSilver
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 5
    TabStop = True
    OnMouseUp = ColorButton5MouseUp
  end
  object ColorButton6: TColorButton
    Left = 58
    Top = 120
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 6
    TabStop = True
    OnMouseUp = ColorButton6MouseUp
  end
  object ColorButton7: TColorButton
    Left = 8
    Top = 130
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 7
    TabStop = True
    OnMouseUp = ColorButton7MouseUp
  end
  object ColorButton8: TColorButton
    Left = 18
    Top = 130
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 8
    TabStop = True
    OnMouseUp = ColorButton8MouseUp
  end
  object ColorButton9: TColorButton
    Left = 28
    Top = 130
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 9
    TabStop = True
    OnMouseUp = ColorButton9MouseUp
  end
  object ColorButton10: TColorButton
    Left = 38
    Top = 130
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 10
    TabStop = True
    OnMouseUp = ColorButton10MouseUp
  end
  object ColorButton11: TColorButton
    Left = 48
    Top = 130
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 11
    TabStop = True
    OnMouseUp = ColorButton11MouseUp
  end
  object ColorButton12: TColorButton
    Left = 58
    Top = 130
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 12
    TabStop = True
    OnMouseUp = ColorButton12MouseUp
  end
  object ColorButton13: TColorButton
    Left = 8
    Top = 140
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 13
    TabStop = True
    OnMouseUp = ColorButton13MouseUp
  end
  object ColorButton14: TColorButton
    Left = 18
    Top = 140
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 14
    TabStop = True
    OnMouseUp = ColorButton14MouseUp
  end
  object ColorButton15: TColorButton
    Left = 28
    Top = 140
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 15
    TabStop = True
    OnMouseUp = ColorButton15MouseUp
  end
  object ColorButton16: TColorButton
    Left = 38
    Top = 140
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 16
    TabStop = True
    OnMouseUp = ColorButton16MouseUp
  end
  object ColorButton17: TColorButton
    Left = 48
    Top = 140
    Width = 147
    Height = 112
    Color = clSilver
    ShowHint = False
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 17
    TabStop = True
    OnMouseUp = ColorButton17MouseUp
  end
  object ColorButton18: TColorButton
    Left = 58
    Top = 140
    Width = 97
    Height = 42
    BevelSize = 3
    Color = clSilver
    Style = [bsAutoSize, bsCenter, bsShowFocus, bsShowKey]
    TabOrder = 18
    TabStop = True
    OnMouseUp = ColorButton18MouseUp
  end
  object BalloonHint1: TBalloonHint
    Active = True
    BorderColor = clBlack
    Color = clInfoBk
    Font.Color = clBlack
    Font.Height = -12
    Font.Name = 'Fixedsys'
    Font.Style = []
    MaxWidth = -4
    Behavior = [bbNoShowMouseDown, bbUseRegions, bbHideOnPaint]
    Position = bpAboveRight
    ShadowDepth = 8
    Shape = bsRoundRect
  end
  object Label2: TLabel
    Left = 72
    Top = 8
    Width = 54
    Height = 54
    Color = clOlive
    Transparent = True
    OnMouseMove = Label2MouseMove
  end
end
