#pragma once
// The agent's main dialog. What start-up needs of it:
//   CMainDialog(Agent& agent, std::string title);
//   bool Create();      // modeless, hidden, from dialog resource 802
//   void ShowGui();
// The user-interface module defines the class here.
